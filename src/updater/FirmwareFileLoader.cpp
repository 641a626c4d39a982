#include "updater/FirmwareFileLoader.h"

#include "app/FileUtils.h"
#include "app/SafeFiles.h"
#include "archive/ZipUnpacker.h"
#include "flashing/DeviceFlasher.h"
#include "flashing/ImageList.h"
#include "flashing/UpdaterView.h"
#include "updater/WebUpdateFlow.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {
const QString StagingName = QStringLiteral("incoming");
constexpr qint64 CopyPieceBytes = 1024 * 1024;

bool HasSuffix(const QString& path, const char* suffix) {
    return path.endsWith(QLatin1String(suffix), Qt::CaseInsensitive);
}

// Copies source to target, never writing through a link; false when it cannot.
bool CopyFile(const QString& source, const QString& target) {
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        return false;
    const int fd = OpenForWritingNoFollow(target);
    QFile out;
    if (fd < 0 || !out.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle))
        return false;
    QByteArray piece;
    while (!(piece = in.read(CopyPieceBytes)).isEmpty())
        if (out.write(piece) != piece.size())
            return false;
    return in.error() == QFileDevice::NoError;
}
} // namespace

FirmwareFileLoader::FirmwareFileLoader(TZipUnpacker& zip, DeviceFlasher& flasher, UpdaterView& view,
                                       WebFlowControls& controls)
    : zip_(zip), flasher_(flasher), view_(view), controls_(controls) {}

bool FirmwareFileLoader::IsFirmwareSelection(const QStringList& paths) {
    if (paths.size() == 1)
        return HasSuffix(paths[0], ".zip");
    return paths.size() == 2 && HasSuffix(paths[0], ".bin") && HasSuffix(paths[1], ".bin");
}

bool FirmwareFileLoader::Load(const QStringList& paths) {
    running_ = true;
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{running_};

    QStringList names;
    for (const QString& path : paths)
        names << QFileInfo(path).fileName();
    const QString shown = names.join(QStringLiteral(", "));
    view_.AppendLine(QStringLiteral("-> LOADING FIRMWARE PACKAGE: ") + shown);
    if (!IsFirmwareSelection(paths))
        return Fail(QStringLiteral("[NOTE: CHOOSE ONE PACKAGE (.ZIP) OR THE TWO IMAGES (.BIN)]"));
    const bool package = paths.size() == 1;

    // Everything is checked beside the loaded images first, so a bad file cannot spoil them.
    const QString work = flasher_.WorkDirectory();
    const QString staging = PreparePrivateFolder(work, StagingName);
    EmptyFolder(staging);
    struct Cleanup {
        QString folder;
        ~Cleanup() { DeleteFolder(folder); }
    } cleanup{staging};

    if (!Stage(paths, staging, package))
        return false;
    view_.ExtendLastLine(QStringLiteral("  [OK]"));
    view_.AppendLine(QStringLiteral("-> CHECKING FIRMWARE FILE"));
    if (package) {
        zip_.ExtrBaseDir = staging;
        zip_.ExtractFilter = IsFirmwareImageMember;
        zip_.SetZipFileName(AddBackslash(staging) + WebUpdateFlow::PackageName);
        zip_.Extract(); // problems were shown by the component; the files decide
        zip_.SetZipFileName(QString());
    }
    TImageList candidate;
    if (!candidate.ClassifyImages(staging))
        return Fail(package
                        ? QStringLiteral("[NOTE: THE PACKAGE DOES NOT HOLD THE TWO FIRMWARE "
                                         "IMAGES]")
                        : QStringLiteral("[NOTE: THE IMAGES MUST HAVE 491516 AND 98304 BYTES]"));
    Adopt(staging);
    if (!flasher_.ClassifyImages(work))
        return Fail(QStringLiteral("[NOTE: THE IMAGES COULD NOT BE MOVED INTO PLACE]"));
    controls_.SetUpdateButtonEnabled(true);
    controls_.SetWebButtonEnabled(false);
    controls_.SetWebCaption(QStringLiteral("Firmware file (%1)").arg(shown));
    view_.ExtendLastLine(QStringLiteral("  [OK]"));
    return true;
}

void FirmwareFileLoader::RemoveLeftovers() {
    DeleteFolder(AddBackslash(flasher_.WorkDirectory()) + StagingName);
}

// Copies the files into the staging folder: a package as the web flow names it, images under
// their own names.
bool FirmwareFileLoader::Stage(const QStringList& paths, const QString& staging, bool package) {
    int64_t total = 0;
    for (const QString& path : paths) {
        const QFileInfo info(path);
        const QString name = info.fileName();
        if (!info.exists())
            return Fail(QStringLiteral("[NOTE: FILE NOT FOUND: %1]").arg(name));
        if (!info.isFile())
            return Fail(QStringLiteral("[NOTE: NOT A FILE: %1]").arg(name));
        if (info.size() > MaxFileBytes)
            return Fail(QStringLiteral("[NOTE: FILE LARGER THAN 256 MB: %1]").arg(name));
        total += info.size();
    }
    if (paths.size() == 2 && QFileInfo(paths[0]).fileName() == QFileInfo(paths[1]).fileName())
        return Fail(QStringLiteral("[NOTE: THE TWO IMAGES HAVE THE SAME NAME]"));
    const int64_t free = FreeDiskSpace(staging);
    if (free >= 0 && free - DiskSpaceReserve < total)
        return Fail(QStringLiteral("[NOTE: NOT ENOUGH DISK SPACE]"));
    for (const QString& path : paths) {
        const QString name = package ? WebUpdateFlow::PackageName : QFileInfo(path).fileName();
        if (!CopyFile(path, AddBackslash(staging) + name))
            return Fail(
                QStringLiteral("[NOTE: FILE CANNOT BE READ: %1]").arg(QFileInfo(path).fileName()));
    }
    return true;
}

// The checked files replace whatever the work directory held.
void FirmwareFileLoader::Adopt(const QString& staging) {
    const QString work = flasher_.WorkDirectory();
    EmptyFolder(work);
    const QStringList files = QDir(staging).entryList(QDir::Files | QDir::Hidden);
    for (const QString& name : files)
        QFile::rename(AddBackslash(staging) + name, AddBackslash(work) + name);
}

bool FirmwareFileLoader::Fail(const QString& note) {
    view_.ExtendLastLine(QStringLiteral("  [ERROR]"));
    view_.AppendLine(note);
    return false;
}
