#include "cli/Console.h"

#include <QCoreApplication>
#include <QPointer>

#include <cstdlib>
#include <io.h>
#include <mutex>
#include <windows.h>
// After windows.h, whose definitions it uses.
#include <shellapi.h>

namespace {
// The console's handler runs on a thread of its own and can carry no context of ours.
struct BreakTarget {
    std::mutex lock;
    QPointer<QObject> context;
    std::function<void()> handler;
    bool requested = false;
    HANDLE ended = nullptr; // set when the watch goes: the program has done its clean-up
};
BreakTarget target;

constexpr DWORD CloseWaitMs = 4000; // Windows ends the process 5 s after a console close

BOOL WINAPI OnConsoleControl(DWORD type) {
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT && type != CTRL_CLOSE_EVENT)
        return FALSE;
    HANDLE ended = nullptr;
    {
        std::lock_guard guard(target.lock);
        QObject* context = target.context.data();
        if (!context)
            return FALSE;
        // A second request is the user's insistence: the system's own handling ends the
        // program at once.
        if (target.requested && type != CTRL_CLOSE_EVENT)
            return FALSE;
        target.requested = true;
        QMetaObject::invokeMethod(
            context, [] { target.handler(); }, Qt::QueuedConnection);
        ended = target.ended;
    }
    // The process ends as soon as this returns from a close: the stop must have run by then.
    if (type == CTRL_CLOSE_EVENT && ended)
        WaitForSingleObject(ended, CloseWaitMs);
    return TRUE;
}

void EnableEscapes(DWORD handle) {
    HANDLE console = GetStdHandle(handle);
    DWORD mode = 0;
    if (console != INVALID_HANDLE_VALUE && GetConsoleMode(console, &mode))
        SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
}

UINT savedOutputPage = 0;

void RestoreOutputPage() {
    SetConsoleOutputCP(savedOutputPage);
}
} // namespace

void PrepareConsole() {
    EnableEscapes(STD_OUTPUT_HANDLE);
    EnableEscapes(STD_ERROR_HANDLE);
    // The output is UTF-8 (a pipe or file gets it as such); the console shows it so while the
    // program runs, and the page it had is given back for the programs that follow.
    savedOutputPage = GetConsoleOutputCP();
    if (savedOutputPage != 0 && savedOutputPage != CP_UTF8 && SetConsoleOutputCP(CP_UTF8))
        std::atexit(RestoreOutputPage);
}

StrayRuntimeFolder::StrayRuntimeFolder() = default; // Qt makes no runtime folder here
StrayRuntimeFolder::~StrayRuntimeFolder() = default;

QStringList ProgramArguments(int, char**, QHash<QString, QByteArray>&) {
    // argv holds the arguments in the code page, where a name outside it is lost.
    QStringList arguments;
    int count = 0;
    if (LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count)) {
        for (int i = 1; i < count; ++i)
            arguments << QString::fromWCharArray(wide[i]);
        LocalFree(wide);
    }
    return arguments;
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

BreakWatch::BreakWatch(QObject* context, std::function<void()> onBreak) {
    {
        std::lock_guard guard(target.lock);
        target.context = context;
        target.handler = std::move(onBreak);
        target.requested = false;
        target.ended = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    }
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

BreakWatch::~BreakWatch() {
    {
        std::lock_guard guard(target.lock);
        target.context = nullptr;
        if (target.ended)
            SetEvent(target.ended); // a waiting close may end the process now
    }
    SetConsoleCtrlHandler(OnConsoleControl, FALSE);
}
