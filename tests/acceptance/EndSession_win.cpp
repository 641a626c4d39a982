// Ends the session for the updater's window as Windows does at logout: WM_QUERYENDSESSION,
// then WM_ENDSESSION telling whether the session really ends (it does not when the window
// refused). Prints "refused" or "ended"; exit status 1 when there is no window to ask or it
// did not answer.
#include <windows.h>

#include <cstdio>

int main() {
    const HWND window = FindWindowW(nullptr, L"QLM Firmware Updater");
    if (!window) {
        std::puts("no window");
        return 1;
    }
    // Long enough for a window thread that sits in one of the update's blocking pauses.
    constexpr UINT Wait = 20000;
    DWORD_PTR allowed = 0;
    if (!SendMessageTimeoutW(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_NORMAL, Wait,
                             &allowed)) {
        std::puts("no answer");
        return 1;
    }
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(window, WM_ENDSESSION, allowed ? TRUE : FALSE, ENDSESSION_LOGOFF,
                        SMTO_NORMAL, Wait, &ignored);
    std::puts(allowed ? "ended" : "refused");
    return 0;
}
