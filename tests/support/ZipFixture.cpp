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
