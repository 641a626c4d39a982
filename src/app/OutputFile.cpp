#include "app/OutputFile.h"

#include "app/SafeFiles.h"

#include <utility>

OutputFile::OutputFile(QString path, qsizetype bufferBytes)
    : path_(std::move(path)), bufferBytes_(bufferBytes) {}

OutputFile::~OutputFile() {
    if (!committed_)
        Discard();
}

bool OutputFile::Open() {
    const int fd = OpenForWritingNoFollow(path_);
    // Unbuffered: the pieces are gathered here, so that the writes reach the disk as they are.
    if (fd < 0 ||
        !file_.open(fd, QIODevice::WriteOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle))
        return false;
    buffer_.reserve(bufferBytes_);
    return true;
}

bool OutputFile::Write(const char* data, qsizetype length) {
    if (!file_.isOpen())
        return false;
    buffer_.append(data, length);
    return buffer_.size() < bufferBytes_ || Flush();
}

bool OutputFile::Flush() {
    if (!buffer_.isEmpty() && file_.write(buffer_) != buffer_.size()) {
        error_ = file_.errorString();
        errorCode_ = file_.error();
        return false;
    }
    written_ += buffer_.size();
    buffer_.resize(0);
    return true;
}

bool OutputFile::Commit() {
    if (!file_.isOpen() || !Flush()) {
        Discard();
        return false;
    }
    file_.unsetError();
    file_.close();
    if (file_.error() != QFileDevice::NoError) {
        error_ = file_.errorString();
        errorCode_ = file_.error();
        QFile::remove(path_);
        return false;
    }
    committed_ = true;
    return true;
}

void OutputFile::Discard() {
    if (!file_.isOpen())
        return;
    file_.close();
    QFile::remove(path_);
}
