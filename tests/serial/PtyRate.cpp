// Kept apart: the kernel's termios2 header clashes with the C library's <termios.h>.
#include <asm/ioctls.h>
#include <asm/termbits.h>

extern "C" int ioctl(int fd, unsigned long request, ...);

int PtyLineRate(int master) {
    struct termios2 t {};
    if (ioctl(master, TCGETS2, &t) != 0)
        return -1;
    return static_cast<int>(t.c_ospeed);
}
