// Feeds arbitrary bytes to the central directory reader.
#include "archive/ZipDirectoryReader.h"

#include <QBuffer>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    TZipDirectoryReader reader;
    int warnings = 0;
    reader.OnWarning = [&](int) { ++warnings; };
    TZipDirectory dir;
    const int rc = reader.Read(buffer, dir);
    if (rc == 0) {
        // What was accepted must describe the file it came from.
        if (dir.Entries.size() > dir.EntriesCounted || dir.ZipComment.size() > bytes.size() ||
            dir.CentralStart < 0 || dir.CentralStart > bytes.size())
            std::abort();
        for (const TZipDirEntry& e : dir.Entries)
            if (e.FileNameLength >= 260 || e.ExtraData.size() != e.ExtraFieldLength ||
                e.FileComment.size() != e.FileCommentLen)
                std::abort();
    }
    return 0;
}
