#include "flashing/FirmwareImage.h"

#include "app/Errors.h"
#include "app/FileUtils.h"
#include "flashing/MonitorLog.h"

#include <QFile>
#include <QFileInfo>
#include <cstring>

namespace ImageClass {
int32_t SizeOfKind(int kind) {
    switch (kind) {
    case KindOS:
        return OSSize;
    case KindExt:
        return ExtSize;
    default:
        return -1;
    }
}

int TagOfKind(int kind) {
    switch (kind) {
    case KindOS:
        return TagOS;
    case KindExt:
        return TagExt;
    default:
        return 0;
    }
}
} // namespace ImageClass

namespace {
// Strips blanks and control characters at both ends.
QString TrimControls(const QString& text) {
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text.at(first).unicode() <= ' ')
        ++first;
    while (last > first && text.at(last - 1).unicode() <= ' ')
        --last;
    return text.mid(first, last - first);
}
} // namespace

int32_t TFirmwareImage::LoadImage(const QString& rawPath, int kind, MonitorLog& log) {
    const QString path = TrimControls(rawPath);
    const int32_t size = FileSizeOf(path);
    if (size < 0)
        throw EInOutError(QStringLiteral("Cannot read firmware file %1").arg(path), 2);

    const int32_t block = ImageClass::BlockSize;
    const int32_t padded = size % block == 0 ? size : (size / block + 1) * block;

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw EInOutError(
            QStringLiteral("Cannot open firmware file %1: %2").arg(path, file.errorString()),
            static_cast<int>(file.error()));
    QByteArray data(padded, char(ImageClass::PaddingByte));
    const qint64 got = file.read(data.data(), size);
    // The size helper keeps only the low 32 bits; the check must see a file over 4 GiB whole.
    const qint64 actualSize = file.size();
    file.close();
    if (got != size)
        throw EInOutError(QStringLiteral("Cannot read firmware file %1").arg(path), 100);

    buffer_ = std::move(data);
    length_ = padded;

    if (CheckImageSize(QFileInfo(path).fileName(), kind, actualSize, log))
        return length_;
    return 0;
}

bool TFirmwareImage::CheckImageSize(const QString& fileName, int kind, int64_t size,
                                    MonitorLog& log) {
    const int32_t expected = ImageClass::SizeOfKind(kind);
    const bool accepted = expected >= 0 && size == expected;
    if (accepted)
        log.AppendLine(QStringLiteral("-> LOADING FIRMWARE FILE: %1%2").arg(fileName, "  [OK]"));
    else
        log.AppendLine(
            QStringLiteral("-> LOADING FIRMWARE FILE: %1  [ERROR: Wrong filesize]").arg(fileName));
    return accepted;
}

uint8_t TFirmwareImage::BlockChecksum(int first, int last) const {
    if (first < 0 || last >= length_ || first > last)
        return 0;
    const auto* bytes = reinterpret_cast<const uint8_t*>(buffer_.constData());
    int32_t sum = 0;
    for (int i = first; i <= last; ++i)
        sum += bytes[i];
    return static_cast<uint8_t>(sum & 0xFF);
}

void TFirmwareImage::BuildBlock(int index, uint8_t* packet) const {
    std::memset(packet, 0, ImageClass::PacketSize);
    const int first = index * ImageClass::BlockSize;
    if (index < 0 || first + ImageClass::BlockSize > length_)
        throw EQlmError(QStringLiteral("Block %1 is outside the firmware image").arg(index));
    packet[ImageClass::PacketSize - 1] = BlockChecksum(first, first + ImageClass::BlockSize - 1);
    std::memcpy(packet + 3, buffer_.constData() + first, ImageClass::BlockSize);
}
