#include "serial/EnumComPorts_unix.h"
#include "serial/DistinctPorts.h"
#include "serial/EnumComPorts.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The kernel lists ttyS0..N whether or not a UART is fitted; a placeholder reports type 0.
bool IsPlaceholderUart(const QString& entryDir, const QString& name) {
    if (!name.startsWith(QLatin1String("ttyS")))
        return false;
    QFile type(entryDir + QStringLiteral("/type"));
    if (!type.open(QIODevice::ReadOnly))
        return false;
    return type.readAll().trimmed() == "0";
}

// Terminals the kernel writes its console to; probing them would write into the console.
QStringList ConsoleTerminals(const QString& classDir) {
    QFile active(classDir + QStringLiteral("/console/active"));
    if (!active.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLatin1(active.readAll())
        .simplified()
        .split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

bool MayReadWrite(const QString& path) {
    return access(QFile::encodeName(path).constData(), R_OK | W_OK) == 0;
}

} // namespace

QStringList HardwareComPorts(const QString& classDir, const QString& devDir) {
    QStringList names;
    const QDir dir(classDir);
    const QStringList entries = dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    const QStringList consoles = ConsoleTerminals(classDir);
    for (const QString& name : entries) {
        const QString entryDir = dir.filePath(name);
        if (!QFileInfo::exists(entryDir + QStringLiteral("/device")))
            continue; // virtual terminals, consoles and the like
        if (IsPlaceholderUart(entryDir, name) || consoles.contains(name))
            continue;
        if (!MayReadWrite(devDir + QLatin1Char('/') + name))
            continue;
        names.append(name);
    }
    return names;
}

QStringList ExtraComPorts(const QString& list) {
    return list.split(QLatin1Char(':'), Qt::SkipEmptyParts);
}

bool ListPresentComPorts(QStringList& names) {
    names = HardwareComPorts(QStringLiteral("/sys/class/tty"), QStringLiteral("/dev"));
    // An extra path to a device listed already (a link, another spelling) adds nothing.
    names = DistinctPorts(names + ExtraComPorts(qEnvironmentVariable("QLM_EXTRA_PORTS")));
    return true;
}

int ComparePortNames(const QString& a, const QString& b) {
    return QString::compare(a, b, Qt::CaseInsensitive);
}

QString ForbiddingGroup(const QString& path) {
    const QByteArray native = QFile::encodeName(path);
    struct stat st {};
    if (::stat(native.constData(), &st) != 0 || MayReadWrite(path))
        return {};
    // Joining a group helps only where the group may read and write.
    if ((st.st_mode & (S_IRGRP | S_IWGRP)) != (S_IRGRP | S_IWGRP))
        return {};
    const group* owner = ::getgrgid(st.st_gid);
    return owner ? QString::fromLocal8Bit(owner->gr_name) : QString::number(st.st_gid);
}

QList<QPair<QString, QString>> ForbiddenComPorts() {
    QStringList candidates;
    const QDir dir(QStringLiteral("/sys/class/tty"));
    const QStringList consoles = ConsoleTerminals(dir.path());
    for (const QString& name : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
        const QString entryDir = dir.filePath(name);
        if (QFileInfo::exists(entryDir + QStringLiteral("/device")) &&
            !IsPlaceholderUart(entryDir, name) && !consoles.contains(name))
            candidates << QStringLiteral("/dev/") + name;
    }
    candidates += ExtraComPorts(qEnvironmentVariable("QLM_EXTRA_PORTS"));
    QList<QPair<QString, QString>> forbidden;
    for (const QString& path : DistinctPorts(candidates)) {
        const QString group = ForbiddingGroup(path);
        if (!group.isEmpty())
            forbidden.append({path, group});
    }
    return forbidden;
}

QStringList PortAccessNotes() {
    QMap<QString, QStringList> byGroup;
    for (const auto& [path, group] : ForbiddenComPorts())
        byGroup[group] << path;
    QStringList notes;
    for (auto it = byGroup.cbegin(); it != byGroup.cend(); ++it)
        notes << QStringLiteral("[NOTE: %1 %2 TO GROUP %3; ADD YOURSELF (sudo usermod -aG %3 "
                                "$USER) AND LOG IN AGAIN]")
                     .arg(it.value().join(QStringLiteral(", ")),
                          it.value().size() == 1 ? QStringLiteral("BELONGS")
                                                 : QStringLiteral("BELONG"),
                          it.key());
    return notes;
}
