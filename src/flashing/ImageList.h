#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// The .bin files of the work directory, each tagged by its size class:
// 1 OS image, 2 external image, 0 anything else.
class TImageList {
public:
    struct Entry {
        QString name;
        int tag = 0;
        QByteArray digest; // of the image's content when listed; empty for other files
    };

    // Fills the list from folder's top-level "*.bin" files; keeps it only when exactly
    // one OS image and one external image were found, otherwise empties it.
    bool ClassifyImages(const QString& folder);

    // Name of the first entry with tag, or the empty text.
    QString NameOfTag(int tag) const;
    // Whether content is what the image with tag held when it was listed.
    bool Matches(int tag, const QByteArray& content) const;

    bool IsEmpty() const { return entries_.isEmpty(); }
    void Clear() { entries_.clear(); }
    const QList<Entry>& Entries() const { return entries_; }

private:
    QList<Entry> entries_;
};
