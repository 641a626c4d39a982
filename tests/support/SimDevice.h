#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

class QTemporaryDir;

// The port name a test gives a device called name. Unix: a link of that name in dir, which
// the device's pseudo-terminal is linked to. Windows (under Wine): a COM port that the test
// run maps to a pseudo-terminal on the host; one-letter names keep their text order there.
QString TestPortName(const QTemporaryDir& dir, const QString& name);

// The simulated device, run as its own program on a pseudo-terminal (under Wine, on the host
// through the test run's host runner).
class SimDevice {
public:
    // Starts the simulator with args on port, a name from TestPortName.
    SimDevice(const QString& port, const QStringList& args);
    ~SimDevice();
    SimDevice(const SimDevice&) = delete;
    SimDevice& operator=(const SimDevice&) = delete;

    bool Started() const { return started_; }
    // The port name the device answers on.
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
    // port: a name from TestPortName.
    explicit SilentPty(const QString& port);
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

// The port list as the selector shows it: the ports, listed and sorted like the real
// enumeration does (Unix: through QLM_EXTRA_PORTS; the machine's own ports left out).
QStringList ListPorts(const QStringList& paths);
