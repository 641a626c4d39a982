#pragma once

#include <QString>
#include <stdexcept>

// Base of the program's typed errors; the message is kept as UTF-8 in what().
class EQlmError : public std::runtime_error {
public:
    explicit EQlmError(const QString& message) : std::runtime_error(message.toStdString()) {}
    QString Message() const { return QString::fromUtf8(what()); }
};

// A file could not be written or read part-way through an operation.
class EInOutError : public EQlmError {
public:
    EInOutError(const QString& message, int code) : EQlmError(message), ErrorCode(code) {}
    int ErrorCode;
};
