#include "cli/Console.h"

#include <QCoreApplication>
#include <QPointer>
#include <io.h>
#include <windows.h>

namespace {
// The console's handler runs on a thread of its own and can carry no context of ours.
QPointer<QObject> breakContext;
std::function<void()> breakHandler;

BOOL WINAPI OnConsoleControl(DWORD type) {
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT && type != CTRL_CLOSE_EVENT)
        return FALSE;
    QObject* context = breakContext.data();
    if (!context)
        return FALSE;
    QMetaObject::invokeMethod(
        context, [] { breakHandler(); }, Qt::QueuedConnection);
    return TRUE;
}

void EnableEscapes(DWORD handle) {
    HANDLE console = GetStdHandle(handle);
    DWORD mode = 0;
    if (console != INVALID_HANDLE_VALUE && GetConsoleMode(console, &mode))
        SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
}
} // namespace

void PrepareConsole() {
    EnableEscapes(STD_OUTPUT_HANDLE);
    EnableEscapes(STD_ERROR_HANDLE);
}

bool IsTerminal(FILE* stream) {
    return _isatty(_fileno(stream)) != 0;
}

int TerminalColumns(FILE* stream) {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    const HANDLE console = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    if (!GetConsoleScreenBufferInfo(console, &info))
        return 0;
    return info.srWindow.Right - info.srWindow.Left + 1;
}

void WatchBreak(QObject* context, std::function<void()> onBreak) {
    breakContext = context;
    breakHandler = std::move(onBreak);
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}
