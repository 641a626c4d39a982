#include "support/SimDevice.h"

#include "serial/EnumComPorts.h"
#include "serial/EnumComPorts_unix.h"

#include <QFile>
#include <QTemporaryDir>
#include <cerrno>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#ifndef QLM_SIM_PROGRAM
#error QLM_SIM_PROGRAM must name the simulator binary
#endif

QString TestPortName(const QTemporaryDir& dir, const QString& name) {
    return dir.filePath(name);
}

QString SimDevice::Program() {
    return QStringLiteral(QLM_SIM_PROGRAM);
}

SimDevice::SimDevice(const QString& link, const QStringList& args) : link_(link) {
    process_.setProgram(Program());
    process_.setArguments(QStringList{"--link", link} + args);
    process_.start();
    if (!process_.waitForStarted(5000))
        return;
    // The first line of output is the slave's path, once the device is ready.
    while (!process_.canReadLine())
        if (!process_.waitForReadyRead(5000))
            return;
    process_.readLine();
    started_ = QFile::exists(link_);
}

SimDevice::~SimDevice() {
    Stop();
}

void SimDevice::Stop() {
    if (process_.state() == QProcess::NotRunning)
        return;
    process_.terminate();
    if (!process_.waitForFinished(5000)) {
        process_.kill();
        process_.waitForFinished(5000);
    }
}

QString SimDevice::ErrorOutput() {
    return QString::fromLocal8Bit(process_.readAllStandardError());
}

SilentPty::SilentPty(const QString& link) : link_(link) {
    int slave = -1;
    char name[256] = {};
    if (::openpty(&master_, &slave, name, nullptr, nullptr) != 0)
        return;
    ::close(slave);
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    QFile::remove(link_);
    QFile::link(QString::fromLocal8Bit(name), link_);
}

SilentPty::~SilentPty() {
    if (master_ >= 0)
        ::close(master_);
    QFile::remove(link_);
}

QByteArray SilentPty::Written() {
    QByteArray all;
    char chunk[4096];
    for (;;) {
        const ssize_t n = ::read(master_, chunk, sizeof chunk);
        if (n > 0) {
            all.append(chunk, n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        break; // EAGAIN: nothing more; EIO: the slave side is closed and drained
    }
    return all;
}

QStringList ListPorts(const QStringList& paths) {
    qputenv("QLM_EXTRA_PORTS", paths.join(':').toLocal8Bit());
    QStringList ports = ExtraComPorts(qEnvironmentVariable("QLM_EXTRA_PORTS"));
    SortComPorts(ports);
    return ports;
}
