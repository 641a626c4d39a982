#pragma once

#include <QList>
#include <QString>

// The .bin files of the work directory, each tagged by its size class:
// 1 OS image, 2 external image, 0 anything else.
class TImageList {
public:
    struct Entry {
        QString name;
        int tag = 0;
    };

    // Fills the list from folder's top-level "*.bin" files; keeps it only when exactly
    // one OS image and one external image were found, otherwise empties it.
    bool ClassifyImages(const QString& folder);

    // Name of the first entry with tag, or the empty text.
    QString NameOfTag(int tag) const;

    bool IsEmpty() const { return entries_.isEmpty(); }
    void Clear() { entries_.clear(); }
    const QList<Entry>& Entries() const { return entries_; }

private:
    QList<Entry> entries_;
};
