#include "support/ZipFixture.h"

#include "support/HostProcess.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

QByteArray MakeZip(const ZipMembers& members) {
    QTemporaryDir dir;
    if (!dir.isValid())
        return {};
    QStringList args{QStringLiteral("-c"),
                     QStringLiteral("import sys, zipfile\n"
                                    "out, src = sys.argv[1], sys.argv[2]\n"
                                    "names = sys.argv[3:]\n"
                                    "with zipfile.ZipFile(out, 'w', zipfile.ZIP_DEFLATED) as z:\n"
                                    "    for i, name in enumerate(names):\n"
                                    "        z.write(f'{src}/{i}', name)\n"),
                     dir.filePath(QStringLiteral("out.zip")), dir.path()};
    for (int i = 0; i < members.size(); ++i) {
        QFile f(dir.filePath(QString::number(i)));
        if (!f.open(QIODevice::WriteOnly))
            return {};
        f.write(members[i].second);
        args << members[i].first;
    }
    if (RunHostProgram(QStringLiteral("python3"), args) != 0)
        return {};
    QFile zip(dir.filePath(QStringLiteral("out.zip")));
    return zip.open(QIODevice::ReadOnly) ? zip.readAll() : QByteArray();
}

namespace {
uint32_t Le(const QByteArray& bytes, qsizetype at, int width) {
    uint32_t value = 0;
    for (int i = width - 1; i >= 0; --i)
        value = value << 8 | static_cast<uint8_t>(bytes[at + i]);
    return value;
}
} // namespace

bool CorruptMemberCrc(QByteArray& zip, const QString& name) {
    const QByteArray wanted = name.toUtf8();
    for (qsizetype at = zip.indexOf("PK\x01\x02"); at >= 0 && at + 46 <= zip.size();
         at = zip.indexOf("PK\x01\x02", at + 4)) {
        const qsizetype nameLength = Le(zip, at + 28, 2);
        if (zip.mid(at + 46, nameLength) != wanted)
            continue;
        const qsizetype local = Le(zip, at + 42, 4);
        if (local + 18 > zip.size())
            return false;
        for (qsizetype crc : {at + 16, local + 14})
            zip[crc] = static_cast<char>(zip[crc] ^ 0x5A);
        return true;
    }
    return false;
}

QByteArray TestBytes(int size, int seed) {
    QByteArray data(size, Qt::Uninitialized);
    uint32_t x = 2463534242u ^ static_cast<uint32_t>(seed * 7919 + 1);
    for (int i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        data[i] = static_cast<char>(x);
    }
    return data;
}
