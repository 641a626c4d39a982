// Kept apart: the kernel's termios2 header clashes with the C library's <termios.h>.
#include "serial/TComCustomRate.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <cerrno>

extern "C" int ioctl(int fd, unsigned long request, ...);

int SetCustomRate(int fd, int rate) {
    struct termios2 t {};
    if (ioctl(fd, TCGETS2, &t) != 0)
        return errno;
    t.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    t.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    t.c_ispeed = static_cast<speed_t>(rate);
    t.c_ospeed = static_cast<speed_t>(rate);
    if (ioctl(fd, TCSETS2, &t) != 0)
        return errno;
    return 0;
}
