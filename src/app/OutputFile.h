#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

// A file being written that is removed unless committed, in the manner of QSaveFile but in
// place: a reader of the folder must never take a partial file for a whole one. It never
// writes through a link placed under its name, and with a buffer it gathers small pieces
// into few large writes.
class OutputFile {
public:
    explicit OutputFile(QString path, qsizetype bufferBytes = 0);
    // Discards the file unless it was committed.
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Creates or truncates the file; false when it cannot be opened (nothing is removed then).
    bool Open();
    // Appends data; writes the buffer out once it is full. False when the disk refused.
    bool Write(const char* data, qsizetype length);
    bool Write(const QByteArray& data) { return Write(data.constData(), data.size()); }
    // Writes out what is buffered, closes and keeps the file. False when the disk refused;
    // the file is removed then.
    bool Commit();
    // Closes and removes the file.
    void Discard();

    // Bytes handed to the disk so far.
    qint64 Written() const { return written_; }
    QString ErrorString() const { return error_; }
    QFileDevice::FileError Error() const { return errorCode_; }
    const QString& Path() const { return path_; }

private:
    bool Flush();

    QString path_;
    qsizetype bufferBytes_;
    QByteArray buffer_;
    QFile file_;
    qint64 written_ = 0;
    bool committed_ = false;
    QString error_;
    QFileDevice::FileError errorCode_ = QFileDevice::NoError;
};
