#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

// The simulated device, run as its own program on a pseudo-terminal.
class SimDevice {
public:
    // Starts the simulator with args; link becomes the port's path.
    SimDevice(const QString& link, const QStringList& args);
    ~SimDevice();
    SimDevice(const SimDevice&) = delete;
    SimDevice& operator=(const SimDevice&) = delete;

    bool Started() const { return started_; }
    const QString& Path() const { return link_; }
    // Stops the simulator and waits for it.
    void Stop();
    QString ErrorOutput();

    static QString Program();

private:
    QProcess process_;
    QString link_;
    bool started_ = false;
};

// A pseudo-terminal with nobody on the other side: a port that never answers. What the
// updater writes to it can be read back.
class SilentPty {
public:
    explicit SilentPty(const QString& link);
    ~SilentPty();
    SilentPty(const SilentPty&) = delete;
    SilentPty& operator=(const SilentPty&) = delete;

    const QString& Path() const { return link_; }
    // Everything written to the port so far.
    QByteArray Written();

private:
    int master_ = -1;
    QString link_;
};

// The port list as the selector shows it: QLM_EXTRA_PORTS set to paths, listed and sorted
// like the real enumeration does (the machine's own serial ports left out).
QStringList ListPorts(const QStringList& paths);
