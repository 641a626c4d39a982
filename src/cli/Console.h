#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QStringList>
#include <cstdio>
#include <functional>

// What a console program needs of its platform.

// Before the application object exists: no window system is needed and a closed output
// raises no signal (Unix), and the console understands the escape sequences that rewrite
// lines (Windows).
void PrepareConsole();

// Qt's platform start makes a runtime folder in the temporary folder when the session has
// none of the user's own (Unix); the command line needs none, so an empty one made while this
// lived goes.
class StrayRuntimeFolder {
public:
    StrayRuntimeFolder();
    ~StrayRuntimeFolder();
    StrayRuntimeFolder(const StrayRuntimeFolder&) = delete;
    StrayRuntimeFolder& operator=(const StrayRuntimeFolder&) = delete;

private:
    QStringList before_;
};

// The program's arguments (without its name) as text: on Windows from the wide command line,
// so that a name outside the code page arrives whole. On Unix a byte that is not part of
// UTF-8 text shows as \xHH; rawNames then maps that argument to its bytes, so that a file can
// still be opened by its own name.
QStringList ProgramArguments(int argc, char** argv, QHash<QString, QByteArray>& rawNames);

// Whether stream goes to a terminal.
bool IsTerminal(FILE* stream);

// The width of the terminal stream goes to, as it is now (after any resize); 0 when unknown.
int TerminalColumns(FILE* stream);

// While it lives, calls onBreak on context's thread for each request to stop the program:
// Ctrl+C, and on Unix SIGTERM and SIGHUP as well; the program then ends its work itself. On
// Windows a second Ctrl+C or Ctrl+Break ends the program at once, and closing the console
// waits (a few seconds at most) until the watch goes, so the stop and the clean-up can run.
class BreakWatch {
public:
    BreakWatch(QObject* context, std::function<void()> onBreak);
    ~BreakWatch();
    BreakWatch(const BreakWatch&) = delete;
    BreakWatch& operator=(const BreakWatch&) = delete;

private:
    QObject* watcher_ = nullptr;
};
