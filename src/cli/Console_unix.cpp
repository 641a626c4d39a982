#include "cli/Console.h"

#include "app/SignalWatcher.h"

#include <QtGlobal>
#include <unistd.h>

void PrepareConsole() {
    // The widgets the components make (never shown) need a platform, but not a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

bool IsTerminal(FILE* stream) {
    return isatty(fileno(stream)) == 1;
}

void WatchBreak(QObject* context, std::function<void()> onBreak) {
    auto* watcher = new SignalWatcher(context);
    QObject::connect(watcher, &SignalWatcher::TerminationRequested, context,
                     [onBreak = std::move(onBreak)] { onBreak(); });
}
