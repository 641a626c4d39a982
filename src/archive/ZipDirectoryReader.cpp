#include "archive/ZipDirectoryReader.h"

#include "archive/ZipMessages.h"

#include <QDir>
#include <QtEndian>
#include <algorithm>

namespace ZipBytes {

uint16_t Get16(const char* p) {
    return qFromLittleEndian<quint16>(p);
}
uint32_t Get32(const char* p) {
    return qFromLittleEndian<quint32>(p);
}

bool ReadAt(QIODevice& file, int64_t pos, char* buffer, int64_t length) {
    if (pos < 0 || length < 0 || pos > file.size() || length > file.size() - pos)
        return false;
    if (length == 0)
        return true;
    if (!file.seek(pos))
        return false;
    return file.read(buffer, length) == length;
}

} // namespace ZipBytes

using namespace ZipBytes;

namespace {

// Files this large cannot be described by the 32-bit end record.
constexpr int64_t MaxArchiveSize = int64_t(1) << 32;
constexpr int64_t EndSearchSpan = 65557;
constexpr int MaxNameLength = 260;

// Trailing bytes that some transfer tools append (padding with NULs or control codes)
// are not worth a warning.
bool IsHarmlessTail(const QByteArray& tail) {
    return tail.size() < 512 &&
           std::all_of(tail.begin(), tail.end(), [](char c) { return uint8_t(c) < 0x2F; });
}

QString DecodeName(const QByteArray& raw, uint16_t flag) {
    constexpr uint16_t Utf8Flag = 0x0800;
    QString name = (flag & Utf8Flag) ? QString::fromUtf8(raw) : QString::fromLocal8Bit(raw);
    return name.replace(QLatin1Char('/'), QDir::separator());
}

bool HasFilePart(const QString& name) {
    return !name.isEmpty() && !name.endsWith(QLatin1Char('/')) && !name.endsWith(QLatin1Char('\\'));
}

// Finds the end record; -1 when the file has none.
int64_t FindEndRecord(QIODevice& file) {
    const int64_t size = file.size();
    if (size < EndRecordSize || size >= MaxArchiveSize)
        return -1;
    char last[EndRecordSize];
    if (!ReadAt(file, size - EndRecordSize, last, EndRecordSize))
        return -1;
    if (Get32(last) == EndSignature)
        return size - EndRecordSize;

    const int64_t span = std::min(size, EndSearchSpan);
    QByteArray tail(span, Qt::Uninitialized);
    if (!ReadAt(file, size - span, tail.data(), span))
        return -1;
    for (int64_t i = span - EndRecordSize - 1; i >= 0; --i)
        if (Get32(tail.constData() + i) == EndSignature)
            return size - span + i;
    return -1;
}

} // namespace

int TZipDirectoryReader::Read(QIODevice& file, TZipDirectory& dir) {
    dir = TZipDirectory{};
    const int64_t size = file.size();
    const int64_t endPos = FindEndRecord(file);
    if (endPos < 0)
        return ZipMsg::NotValidZip;

    char head[8];
    if (ReadAt(file, 0, head, sizeof head))
        dir.Spanned = Get32(head) == SpanSignature && Get32(head + 4) == LocalSignature;

    char end[EndRecordSize];
    if (!ReadAt(file, endPos, end, EndRecordSize))
        return ZipMsg::NotValidZip;
    const int entryCount = Get16(end + 10);
    const int64_t centralSize = Get32(end + 12);
    const int64_t statedStart = Get32(end + 16);
    const int64_t commentPos = endPos + EndRecordSize;
    const int64_t commentLen = std::min<int64_t>(Get16(end + 20), size - commentPos);
    dir.ZipComment.resize(commentLen);
    if (!ReadAt(file, commentPos, dir.ZipComment.data(), commentLen))
        return ZipMsg::NotValidZip;

    const int64_t tailPos = commentPos + commentLen;
    if (tailPos < size) {
        const int64_t tailLen = size - tailPos;
        QByteArray tail(std::min<int64_t>(tailLen, 512), Qt::Uninitialized);
        const bool read = ReadAt(file, tailPos, tail.data(), tail.size());
        if (!read || tailLen >= 512 || !IsHarmlessTail(tail)) {
            if (OnWarning)
                OnWarning(ZipMsg::GarbageWarning);
        }
    }

    // Data in front of the archive (or a wrong offset) moves the directory; the end
    // record's own position and the directory size tell where it really starts.
    int64_t start = endPos - centralSize;
    if (start != statedStart && OnWarning)
        OnWarning(ZipMsg::StructureWarning);
    if (start < 0 || !file.seek(start))
        return ZipMsg::SeekError;
    dir.CentralStart = start;

    int64_t pos = start;
    for (int i = 0; i < entryCount; ++i) {
        char h[CentralHeaderSize];
        if (!ReadAt(file, pos, h, CentralHeaderSize))
            return ZipMsg::CentralHeaderError;
        if (Get32(h) != CentralSignature)
            return ZipMsg::CentralSignatureError;
        TZipDirEntry e;
        e.VersionMadeBy = Get16(h + 4);
        e.VersionNeeded = Get16(h + 6);
        e.Flag = Get16(h + 8);
        e.ComprMethod = Get16(h + 10);
        e.ModifTime = Get16(h + 12);
        e.ModifDate = Get16(h + 14);
        e.CRC32 = Get32(h + 16);
        e.ComprSize = Get32(h + 20);
        e.UncomprSize = Get32(h + 24);
        e.FileNameLength = Get16(h + 28);
        e.ExtraFieldLength = Get16(h + 30);
        e.FileCommentLen = Get16(h + 32);
        e.StartOnDisk = Get16(h + 34);
        e.IntFileAttrib = Get16(h + 36);
        e.ExtFileAttrib = Get32(h + 38);
        e.RelOffLocalHdr = Get32(h + 42);
        e.Encrypted = (e.Flag & 1) != 0;
        pos += CentralHeaderSize;

        if (e.FileNameLength >= MaxNameLength)
            return ZipMsg::CentralNameError;
        QByteArray rawName(e.FileNameLength, Qt::Uninitialized);
        if (!ReadAt(file, pos, rawName.data(), rawName.size()))
            return ZipMsg::CentralNameError;
        pos += rawName.size();
        e.ExtraData.resize(e.ExtraFieldLength);
        if (!ReadAt(file, pos, e.ExtraData.data(), e.ExtraData.size()))
            return ZipMsg::CentralHeaderError;
        pos += e.ExtraData.size();
        e.FileComment.resize(e.FileCommentLen);
        if (!ReadAt(file, pos, e.FileComment.data(), e.FileComment.size()))
            return ZipMsg::FileCommentError;
        pos += e.FileComment.size();

        e.FileName = DecodeName(rawName, e.Flag);
        ++dir.EntriesCounted;
        if (HasFilePart(e.FileName))
            dir.Entries.append(std::move(e));
        if (OnEntry)
            OnEntry();
    }

    char closing[EndRecordSize];
    if (!ReadAt(file, pos, closing, EndRecordSize) || Get32(closing) != EndSignature)
        return ZipMsg::EndOfCentralError;
    return 0;
}
