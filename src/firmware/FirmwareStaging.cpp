#include "firmware/FirmwareStaging.h"

#include "app/FileUtils.h"
#include "app/SafeFiles.h"
#include "archive/ZipDirEntry.h"
#include "archive/ZipMessages.h"
#include "archive/ZipUnpacker.h"
#include "flashing/DeviceFlasher.h"
#include "flashing/FirmwareImage.h"
#include "flashing/ImageList.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

namespace {
const QString StagingName = QStringLiteral("incoming");
} // namespace

FirmwareStaging::FirmwareStaging(const QString& workDirectory)
    : workDirectory_(workDirectory), path_(PreparePrivateFolder(workDirectory, StagingName)) {
    // Left by a load or download that was killed part-way.
    if (Usable())
        EmptyFolderTree(path_);
}

FirmwareStaging::~FirmwareStaging() {
    if (!Usable())
        return;
    EmptyFolderTree(path_);
    RemoveEmptyFolder(path_);
}

QString FirmwareStaging::PackagePath() const {
    return AddBackslash(path_) + PackageName;
}

bool FirmwareStaging::Usable() const {
    return !path_.isEmpty() && IsPrivateFolder(path_);
}

QString FirmwareStaging::UnusableNote() const {
    const QString folder = workDirectory_.isEmpty() ? SystemTempPath() : workDirectory_;
    return QStringLiteral("[NOTE: THE TEMPORARY FOLDER IS NOT USABLE: %1]")
        .arg(QDir::toNativeSeparators(folder));
}

namespace {
// A member's name as the log can show it: no control characters, and not without end.
QString ShownMemberName(const QString& name) {
    constexpr int MaxShown = 48;
    QString shown;
    for (const QChar c : name)
        shown += c.isPrint() ? c : QChar(u'?');
    return shown.size() > MaxShown ? shown.left(MaxShown - 3) + QStringLiteral("...") : shown;
}

QString FoundMembersNote(const QList<TZipDirEntry>& entries) {
    constexpr int MaxListed = 4;
    QStringList found;
    for (const TZipDirEntry& entry : entries) {
        if (found.size() == MaxListed) {
            found << QStringLiteral("%1 MORE").arg(entries.size() - MaxListed);
            break;
        }
        found << QStringLiteral("%1 %2 BYTES")
                     .arg(ShownMemberName(QFileInfo(entry.FileName).fileName()))
                     .arg(entry.UncomprSize);
    }
    return QStringLiteral("[NOTE: EXPECTED TWO .BIN IMAGES OF %1 AND %2 BYTES; FOUND: %3]")
        .arg(ImageClass::OSSize)
        .arg(ImageClass::ExtSize)
        .arg(found.isEmpty() ? QStringLiteral("NO ARCHIVE MEMBERS")
                             : found.join(QStringLiteral(", ")));
}
} // namespace

FirmwareStaging::Unpacked FirmwareStaging::UnpackPackage(TZipUnpacker& zip, const bool& cancelled) {
    zip.ExtrBaseDir = path_;
    zip.ExtractFilter = IsFirmwareImageMember;
    zip.MessageHint = [](int id) {
        return id == ZipMsg::NotValidZip
                   ? QStringLiteral("A firmware package is a ZIP archive that holds the two "
                                    "firmware images: .bin files of %1 and %2 bytes.")
                         .arg(ImageClass::OSSize)
                         .arg(ImageClass::ExtSize)
                   : QString();
    };
    zip.SetZipFileName(PackagePath());
    // The image list takes one image of each size, so a package with more can never be
    // flashed; unpacking it could only fill the disk.
    int osImages = 0;
    int extImages = 0;
    for (const TZipDirEntry& entry : zip.DirEntries()) {
        if (!IsFirmwareImageMember(entry))
            continue;
        if (entry.UncomprSize == uint32_t(ImageClass::OSSize))
            ++osImages;
        else
            ++extImages;
    }
    foundNote_ = FoundMembersNote(zip.DirEntries());
    Unpacked result = Unpacked::SeveralImages;
    if (osImages <= 1 && extImages <= 1) {
        // Problems were shown by the component; the files decide. An archive whose
        // directory could not be read has said so once already.
        if (!cancelled && !zip.DirEntries().isEmpty())
            zip.Extract();
        result = !cancelled && HoldsImages() ? Unpacked::Images : Unpacked::NoImages;
    }
    zip.SetZipFileName(QString());
    zip.MessageHint = nullptr;
    return result;
}

bool FirmwareStaging::HoldsImages() const {
    TImageList candidate;
    return candidate.ClassifyImages(path_);
}

bool FirmwareStaging::Adopt(DeviceFlasher& flasher) {
    EmptyFolder(workDirectory_);
    const QStringList files = QDir(path_).entryList(QDir::Files | QDir::Hidden);
    for (const QString& name : files)
        QFile::rename(AddBackslash(path_) + name, AddBackslash(workDirectory_) + name);
    return flasher.ClassifyImages(workDirectory_);
}

bool IsFirmwareImageMember(const TZipDirEntry& entry) {
    return entry.FileName.endsWith(QStringLiteral(".bin"), Qt::CaseInsensitive) &&
           (entry.UncomprSize == uint32_t(ImageClass::OSSize) ||
            entry.UncomprSize == uint32_t(ImageClass::ExtSize));
}
