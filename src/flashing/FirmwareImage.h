#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>

class MonitorLog;

// The two image classes, told apart by their exact file size.
namespace ImageClass {
inline constexpr int KindOS = 0;
inline constexpr int KindExt = 1;
inline constexpr int TagOS = 1;
inline constexpr int TagExt = 2;
inline constexpr int32_t OSSize = 491516;
inline constexpr int32_t ExtSize = 98304;
inline constexpr int BlockSize = 1024;
inline constexpr int PacketSize = 1028;
inline constexpr uint8_t PaddingByte = 0x1A;

// Exact file size of the class of kind, or -1 for a kind that selects nothing.
int32_t SizeOfKind(int kind);
// Image list tag of kind, or 0.
int TagOfKind(int kind);
} // namespace ImageClass

// One firmware image in memory, padded with 0x1A to whole 1024-byte blocks.
class TFirmwareImage {
public:
    // Reads the file into the buffer and checks its size; the image length, or 0 when
    // the size check rejects the file (the buffer keeps the new content either way).
    // File errors are raised as EInOutError.
    int32_t LoadImage(const QString& path, int kind, MonitorLog& log);

    // Accepts the class size of kind and writes the loading line either way.
    static bool CheckImageSize(const QString& fileName, int kind, int64_t size, MonitorLog& log);

    // Low 8 bits of the sum of the bytes first..last inclusive.
    uint8_t BlockChecksum(int first, int last) const;

    // Data and checksum of block index into a 1028-byte packet; bytes 0..2 are left 0.
    void BuildBlock(int index, uint8_t* packet) const;

    int32_t Length() const { return length_; }
    int BlockCount() const { return length_ / ImageClass::BlockSize; }
    const QByteArray& Bytes() const { return buffer_; }

private:
    QByteArray buffer_;
    int32_t length_ = 0;
};
