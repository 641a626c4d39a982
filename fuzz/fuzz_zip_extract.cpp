// Reads the directory of arbitrary bytes and unpacks what it finds into a sandbox.
// Afterwards nothing but the base directory may exist in the sandbox, nothing but regular
// files in the base directory, and every file must have the size of a member of its name.
#include "archive/ExtractDir.h"
#include "archive/ZipDirectoryReader.h"
#include "archive/ZipExtractEngine.h"

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QTemporaryDir>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

struct Sandbox {
    // In the run folder: libFuzzer may end without running static destructors.
    QTemporaryDir root{QDir::currentPath() + QStringLiteral("/sandbox-XXXXXX")};
    QString base = root.path() + QStringLiteral("/base");
    Sandbox() {
        if (!root.isValid() || !QDir().mkpath(base))
            std::abort();
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Sandbox sandbox;
    QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    TZipDirectory dir;
    TZipDirectoryReader reader;
    if (reader.Read(buffer, dir) != 0)
        return 0;

    TExtractDir target;
    if (target.Open(sandbox.base) != 0)
        std::abort();
    TZipExtractEngine engine;
    engine.PasswordReqCount = 2;
    TZipExtractEngine::Callbacks callbacks;
    int asked = 0;
    callbacks.AskPassword = [&](const QString&) {
        ++asked;
        return TZipPasswordReply{TZipPasswordAnswer::Ok, QStringLiteral("pw")};
    };
    const int written = engine.Run(buffer, dir.Entries, target, callbacks);

    QMultiHash<QString, qint64> sizes;
    for (const TZipDirEntry& e : dir.Entries) {
        const QString name = ZipOutputName(e.FileName);
        if (!name.isEmpty())
            sizes.insert(name, e.UncomprSize);
    }
    const QStringList outside =
        QDir(sandbox.root.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System);
    if (outside != QStringList{QStringLiteral("base")}) {
        std::fprintf(stderr, "escaped: %s\n", qPrintable(outside.join(QLatin1Char(','))));
        std::abort();
    }
    QDir base(sandbox.base);
    const QFileInfoList files =
        base.entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System | QDir::Hidden);
    if (files.size() != written)
        std::abort();
    for (const QFileInfo& f : files) {
        if (f.isSymLink() || !f.isFile() || !sizes.contains(f.fileName()) ||
            !sizes.values(f.fileName()).contains(f.size())) {
            std::fprintf(stderr, "bad output: %s\n", qPrintable(f.fileName()));
            std::abort();
        }
        base.remove(f.fileName());
    }
    return 0;
}
