#pragma once

#include <QObject>
#include <cstdio>
#include <functional>

// What a console program needs of its platform.

// Before the application object exists: no window system is needed and a closed output
// raises no signal (Unix), and the console understands the escape sequences that rewrite
// lines (Windows).
void PrepareConsole();

// Whether stream goes to a terminal.
bool IsTerminal(FILE* stream);

// The width of the terminal stream goes to, as it is now (after any resize); 0 when unknown.
int TerminalColumns(FILE* stream);

// Calls onBreak on context's thread for each request to stop the program: Ctrl+C, and on
// Unix SIGTERM and SIGHUP as well; the program then ends its work itself.
void WatchBreak(QObject* context, std::function<void()> onBreak);
