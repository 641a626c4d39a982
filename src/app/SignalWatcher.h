#pragma once

#include <QObject>

class QSocketNotifier;

// Turns the system's requests to end the program (on Unix SIGTERM, SIGINT and SIGHUP) into
// a Qt signal on the thread that made the watcher, so they are handled like a close request
// of the window instead of killing the program with its files left behind.
class SignalWatcher : public QObject {
    Q_OBJECT
public:
    explicit SignalWatcher(QObject* parent = nullptr);
    ~SignalWatcher() override;

signals:
    // Once per request that arrived.
    void TerminationRequested();

private:
    void Drain();

    QSocketNotifier* notifier_ = nullptr;
};
