#pragma once

#include <QString>

class DeviceFlasher;
class TZipUnpacker;
struct TZipDirEntry;

// A fresh, empty, private folder inside the work directory where one download or one file
// load is unpacked and checked; it goes with the object. Only firmware that passed the check
// is adopted into the work directory, so nothing left from a failed attempt can ever be
// flashed, alone or beside newer images.
class FirmwareStaging {
public:
    static inline const QString PackageName = QStringLiteral("QLMUpdate.zip");

    enum class Unpacked {
        Images,        // one OS image and one external image
        NoImages,      // not the two images (or not an archive at all)
        SeveralImages, // more than one member of an image's size: refused, nothing written
    };

    explicit FirmwareStaging(const QString& workDirectory);
    ~FirmwareStaging();
    FirmwareStaging(const FirmwareStaging&) = delete;
    FirmwareStaging& operator=(const FirmwareStaging&) = delete;

    const QString& Path() const { return path_; }
    QString PackagePath() const;
    // Whether the folder could be made: a private folder of the user's own.
    bool Usable() const;
    // The Monitor log's note when it could not: the folder it was to be made in (the user's
    // temporary folder when the work directory itself could not be made).
    QString UnusableNote() const;

    // Unpacks the image members of the staged package here; nothing is unpacked once
    // cancelled is set (by an event handled meanwhile).
    Unpacked UnpackPackage(TZipUnpacker& zip, const bool& cancelled);
    // What the last UnpackPackage found, for the user: "[NOTE: EXPECTED TWO .BIN IMAGES OF
    // 491516 AND 98304 BYTES; FOUND: QLM_OS.bin 400000 BYTES, readme.txt 5 BYTES]".
    const QString& FoundNote() const { return foundNote_; }
    // Whether this folder holds exactly one OS image and one external image.
    bool HoldsImages() const;
    // Moves everything staged into the work directory in place of what it held, and lists
    // the images there for the flasher; true when both are listed.
    bool Adopt(DeviceFlasher& flasher);

private:
    QString workDirectory_;
    QString path_;
    QString foundNote_;
};

// Whether a package member can be a firmware image: a ".bin" name of one of the two image
// sizes. Only those are unpacked, so a package cannot fill the disk with anything else.
bool IsFirmwareImageMember(const TZipDirEntry& entry);
