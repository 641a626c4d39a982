#include "app/SignalWatcher.h"

// Nothing to watch on Windows: the updater is a window program without a console, so no
// console control events reach it, and the system's request to end it is WM_CLOSE to its
// window, which Qt already delivers as the window's close request.
SignalWatcher::SignalWatcher(QObject* parent) : QObject(parent) {}

SignalWatcher::~SignalWatcher() = default;

void SignalWatcher::Drain() {}
