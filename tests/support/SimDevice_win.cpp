#include "support/HostRunner_win.h"
#include "support/SimDevice.h"

#include "serial/EnumComPorts.h"

#include <QJsonArray>
#include <QTemporaryDir>
#include <gtest/gtest.h>

QString TestPortName(const QTemporaryDir&, const QString& name) {
    if (name.size() == 1 && name[0] >= QLatin1Char('a') && name[0] <= QLatin1Char('z'))
        return QStringLiteral("COM%1").arg(21 + (name[0].unicode() - 'a'));
    if (name == QLatin1String("dev"))
        return QStringLiteral("COM5");
    if (name == QLatin1String("silent"))
        return QStringLiteral("COM6");
    if (name == QLatin1String("quiet"))
        return QStringLiteral("COM7");
    ADD_FAILURE() << "no COM port for a device named " << name.toStdString();
    return QStringLiteral("COM9");
}

QString SimDevice::Program() {
    return QStringLiteral("quillmoor-sim (on the host)");
}

SimDevice::SimDevice(const QString& port, const QStringList& args) : link_(port) {
    QJsonArray hostArgs;
    for (const QString& arg : args)
        hostArgs.append(HostPath(arg));
    const QJsonObject answer =
        AskHostRunner({{"op", "sim-start"}, {"port", port}, {"args", hostArgs}});
    started_ = answer.value("started").toBool();
    if (answer.contains("error"))
        ADD_FAILURE() << answer.value("error").toString().toStdString();
}

SimDevice::~SimDevice() {
    Stop();
}

void SimDevice::Stop() {
    if (started_)
        AskHostRunner({{"op", "release"}, {"port", link_}});
    started_ = false;
}

QString SimDevice::ErrorOutput() {
    return AskHostRunner({{"op", "sim-errors"}, {"port", link_}}).value("text").toString();
}

SilentPty::SilentPty(const QString& port) : link_(port) {
    const QJsonObject answer = AskHostRunner({{"op", "silent-open"}, {"port", port}});
    if (!answer.value("opened").toBool())
        ADD_FAILURE() << "no silent port " << port.toStdString() << ": "
                      << answer.value("error").toString().toStdString();
}

SilentPty::~SilentPty() {
    AskHostRunner({{"op", "release"}, {"port", link_}});
}

QByteArray SilentPty::Written() {
    const QJsonObject answer = AskHostRunner({{"op", "silent-written"}, {"port", link_}});
    return QByteArray::fromBase64(answer.value("data").toString().toLatin1());
}

QStringList ListPorts(const QStringList& paths) {
    QStringList ports = paths;
    SortComPorts(ports);
    return ports;
}
