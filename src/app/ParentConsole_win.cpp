#include "app/ParentConsole.h"

#include "app/WinApi_win.h"

#include <cstdio>

namespace {
bool LeadsSomewhere(DWORD stream) {
    const HANDLE handle = GetStdHandle(stream);
    return handle && handle != INVALID_HANDLE_VALUE && GetFileType(handle) != FILE_TYPE_UNKNOWN;
}
} // namespace

void ParentConsole::Attach() {
    static bool attached = false;
    if (attached)
        return;
    attached = true;
    const bool output = LeadsSomewhere(STD_OUTPUT_HANDLE);
    const bool errors = LeadsSomewhere(STD_ERROR_HANDLE);
    if ((output && errors) || !AttachConsole(ATTACH_PARENT_PROCESS))
        return;
    if (!output)
        std::freopen("CONOUT$", "w", stdout);
    if (!errors)
        std::freopen("CONOUT$", "w", stderr);
}
