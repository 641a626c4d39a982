#include "firmware/FirmwareFileLoader.h"

#include "app/FileUtils.h"
#include "app/OutputFile.h"
#include "app/SafeFiles.h"
#include "archive/ZipUnpacker.h"
#include "firmware/FirmwareControls.h"
#include "firmware/FirmwareStaging.h"
#include "flashing/DeviceFlasher.h"
#include "flashing/UpdaterView.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopedValueRollback>

namespace {
constexpr qint64 CopyPieceBytes = 1024 * 1024;

bool HasSuffix(const QString& path, const char* suffix) {
    return path.endsWith(QLatin1String(suffix), Qt::CaseInsensitive);
}

QString UnusableFolderNote(const QString& folder) {
    return QStringLiteral("[NOTE: THE TEMPORARY FOLDER IS NOT USABLE: %1]")
        .arg(QDir::toNativeSeparators(folder));
}

enum class CopyResult { Copied, Unreadable, TooLarge, NoSpace, Unwritable };

// Copies source to target, never writing through a link, and leaves no partial copy. The bytes are
// counted as they come, whatever size the source claims (a file of the proc file system says 0 and
// has no end).
CopyResult CopyFile(const QString& source, const QString& target) {
    const int inFd = OpenRegularFileForReading(source);
    QFile in;
    if (inFd < 0 || !in.open(inFd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
        return CopyResult::Unreadable;
    OutputFile out(target);
    if (!out.Open())
        return CopyResult::Unwritable;
    const QString targetFolder = QFileInfo(target).absolutePath();
    int64_t copied = 0;
    QByteArray piece;
    while (!(piece = in.read(CopyPieceBytes)).isEmpty()) {
        copied += piece.size();
        if (copied > FirmwareFileLoader::MaxFileBytes)
            return CopyResult::TooLarge;
        if (!LeavesReserve(targetFolder, uint64_t(piece.size())))
            return CopyResult::NoSpace;
        if (!out.Write(piece))
            return LeavesReserve(targetFolder, uint64_t(piece.size())) ? CopyResult::Unwritable
                                                                       : CopyResult::NoSpace;
    }
    if (in.error() != QFileDevice::NoError)
        return CopyResult::Unreadable;
    return out.Commit() ? CopyResult::Copied : CopyResult::Unwritable;
}
} // namespace

FirmwareFileLoader::FirmwareFileLoader(TZipUnpacker& zip, DeviceFlasher& flasher, UpdaterView& view,
                                       FirmwareControls& controls)
    : zip_(zip), flasher_(flasher), view_(view), controls_(controls) {}

bool FirmwareFileLoader::IsFirmwareSelection(const QStringList& paths) {
    if (paths.size() == 1)
        return HasSuffix(paths[0], ".zip");
    return paths.size() == 2 && HasSuffix(paths[0], ".bin") && HasSuffix(paths[1], ".bin");
}

bool FirmwareFileLoader::Load(const QStringList& paths) {
    cancelled_ = false;
    const QScopedValueRollback busy(running_, true);

    QStringList names;
    for (const QString& path : paths)
        names << QFileInfo(path).fileName();
    const QString shown = names.join(QStringLiteral(", "));
    view_.AppendLine(QStringLiteral("-> LOADING FIRMWARE PACKAGE: ") + shown);
    if (!IsFirmwareSelection(paths))
        return Fail(QStringLiteral("[NOTE: CHOOSE ONE PACKAGE (.ZIP) OR THE TWO IMAGES (.BIN)]"));
    const bool package = paths.size() == 1;

    // Everything is checked beside the loaded images first, so a bad file cannot spoil them.
    FirmwareStaging staging(flasher_.WorkDirectory());
    if (!staging.Usable())
        return Fail(staging.UnusableNote());
    if (!Stage(paths, staging, package))
        return false;
    view_.ExtendLastLine(QStringLiteral("  [OK]"));
    view_.AppendLine(QStringLiteral("-> CHECKING FIRMWARE FILE"));
    const FirmwareStaging::Unpacked unpacked =
        package ? staging.UnpackPackage(zip_, cancelled_)
                : (staging.HoldsImages() ? FirmwareStaging::Unpacked::Images
                                         : FirmwareStaging::Unpacked::NoImages);
    if (unpacked == FirmwareStaging::Unpacked::SeveralImages)
        return Fail(QStringLiteral("[NOTE: THE PACKAGE HOLDS MORE THAN ONE IMAGE OF A SIZE]"));
    if (unpacked != FirmwareStaging::Unpacked::Images && !package)
        return Fail(QStringLiteral("[NOTE: THE IMAGES MUST HAVE 491516 AND 98304 BYTES]"));
    if (unpacked != FirmwareStaging::Unpacked::Images) {
        Fail(QStringLiteral("[NOTE: THE PACKAGE DOES NOT HOLD THE TWO FIRMWARE IMAGES]"));
        if (!cancelled_) // what was found says nothing when the unpacking was stopped
            view_.AppendLine(staging.FoundNote());
        return false;
    }
    if (!staging.Adopt(flasher_))
        return Fail(QStringLiteral("[NOTE: THE IMAGES COULD NOT BE MOVED INTO PLACE]"));
    controls_.SetUpdateButtonEnabled(true);
    controls_.SetWebButtonEnabled(false);
    controls_.SetWebCaption(QStringLiteral("Firmware file (%1)").arg(shown));
    view_.ExtendLastLine(QStringLiteral("  [OK]"));
    return true;
}

// Copies the files into the staging folder: a package as the web flow names it, images under
// their own names.
bool FirmwareFileLoader::Stage(const QStringList& paths, const FirmwareStaging& staging,
                               bool package) {
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
    const QString noSpace = QStringLiteral("[NOTE: NOT ENOUGH DISK SPACE]");
    if (!LeavesReserve(staging.Path(), uint64_t(total)))
        return Fail(noSpace);
    for (const QString& path : paths) {
        const QString name = QFileInfo(path).fileName();
        const QString target =
            package ? staging.PackagePath() : AddBackslash(staging.Path()) + name;
        switch (CopyFile(path, target)) {
        case CopyResult::Copied:
            break;
        case CopyResult::Unreadable:
            return Fail(QStringLiteral("[NOTE: FILE CANNOT BE READ: %1]").arg(name));
        case CopyResult::TooLarge:
            return Fail(QStringLiteral("[NOTE: FILE LARGER THAN 256 MB: %1]").arg(name));
        case CopyResult::NoSpace:
            return Fail(noSpace);
        case CopyResult::Unwritable:
            return Fail(UnusableFolderNote(staging.Path()));
        }
    }
    return true;
}

void FirmwareFileLoader::Cancel() {
    if (!running_)
        return;
    cancelled_ = true;
    zip_.Cancel();
}

bool FirmwareFileLoader::Fail(const QString& note) {
    view_.ExtendLastLine(QStringLiteral("  [ERROR]"));
    view_.AppendLine(note);
    return false;
}
