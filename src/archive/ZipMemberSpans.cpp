#include "archive/ZipMemberSpans.h"

#include "archive/ZipDirectoryReader.h"

#include <algorithm>
#include <utility>
#include <vector>

using namespace ZipBytes;

bool MembersOverlap(QIODevice& archive, const QList<TZipDirEntry>& entries, int64_t centralStart) {
    std::vector<std::pair<int64_t, int64_t>> spans; // [start, end)
    spans.reserve(size_t(entries.size()));
    for (const TZipDirEntry& entry : entries) {
        char local[LocalHeaderSize];
        const int64_t start = entry.RelOffLocalHdr;
        if (!ReadAt(archive, start, local, LocalHeaderSize) || Get32(local) != LocalSignature)
            continue;
        const int64_t end = start + LocalHeaderSize + Get16(local + 26) + Get16(local + 28) +
                            int64_t(entry.ComprSize);
        if (end > centralStart)
            return true;
        spans.emplace_back(start, end);
    }
    std::sort(spans.begin(), spans.end());
    for (size_t i = 1; i < spans.size(); ++i)
        if (spans[i].first < spans[i - 1].second)
            return true;
    return false;
}
