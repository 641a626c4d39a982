#pragma once

#include "archive/ZipDirEntry.h"

#include <QIODevice>
#include <functional>

// Reads the central directory of an open archive. Every size and offset taken from the
// file is checked against the file before it is used.
class TZipDirectoryReader {
public:
    // A warning (10203, 10204) found while reading goes on.
    std::function<void(int id)> OnWarning;
    // Called after each entry, so a caller can keep its window responsive.
    std::function<void()> OnEntry;

    // Fills dir and gives 0, or gives the message id of the failure:
    // NotValidZip when there is no end record, the header errors otherwise.
    int Read(QIODevice& file, TZipDirectory& dir);
};

// Little-endian field access and bounded reads shared by the archive code.
namespace ZipBytes {
uint16_t Get16(const char* p);
uint32_t Get32(const char* p);
// Reads exactly length bytes at pos; false when any of them lies outside the file.
bool ReadAt(QIODevice& file, int64_t pos, char* buffer, int64_t length);
constexpr uint32_t LocalSignature = 0x04034B50;
constexpr uint32_t CentralSignature = 0x02014B50;
constexpr uint32_t EndSignature = 0x06054B50;
constexpr uint32_t SpanSignature = 0x08074B50;
constexpr int LocalHeaderSize = 30;
constexpr int CentralHeaderSize = 46;
constexpr int EndRecordSize = 22;
} // namespace ZipBytes
