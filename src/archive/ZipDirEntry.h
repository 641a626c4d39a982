#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <cstdint>

// One member as its central directory header describes it.
struct TZipDirEntry {
    uint16_t VersionMadeBy = 0;
    uint16_t VersionNeeded = 0;
    uint16_t Flag = 0;
    uint16_t ComprMethod = 0;
    uint16_t ModifTime = 0;
    uint16_t ModifDate = 0;
    uint32_t CRC32 = 0;
    uint32_t ComprSize = 0;
    uint32_t UncomprSize = 0;
    uint16_t FileNameLength = 0;
    uint16_t ExtraFieldLength = 0;
    uint16_t FileCommentLen = 0;
    uint16_t StartOnDisk = 0;
    uint16_t IntFileAttrib = 0;
    uint32_t ExtFileAttrib = 0;
    uint32_t RelOffLocalHdr = 0;

    QString FileName; // folder separators turned into the platform's
    QByteArray ExtraData;
    QByteArray FileComment;
    bool Encrypted = false;
};

// What reading an archive's central directory gives.
struct TZipDirectory {
    QList<TZipDirEntry> Entries; // members with a file part; folder entries are left out
    int EntriesCounted = 0;      // every entry read, folders included
    QByteArray ZipComment;
    bool Spanned = false;
    int64_t CentralStart = 0; // where the entries were read, after any correction
};
