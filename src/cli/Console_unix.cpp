#include "cli/Console.h"

#include "app/SignalWatcher.h"

#include <QtGlobal>
#include <csignal>
#include <sys/ioctl.h>
#include <unistd.h>

void PrepareConsole() {
    // The widgets the components make (never shown) need a platform, but not a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // A reader that went away or a full file ends the output, not the program: a device cut
    // off mid-image would stay in its boot loader. Writes fail instead, and the printer stops.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
}

bool IsTerminal(FILE* stream) {
    return isatty(fileno(stream)) == 1;
}

int TerminalColumns(FILE* stream) {
    winsize size{};
    if (ioctl(fileno(stream), TIOCGWINSZ, &size) != 0)
        return 0;
    return size.ws_col;
}

void WatchBreak(QObject* context, std::function<void()> onBreak) {
    auto* watcher = new SignalWatcher(context);
    QObject::connect(watcher, &SignalWatcher::TerminationRequested, context,
                     [onBreak = std::move(onBreak)] { onBreak(); });
}
