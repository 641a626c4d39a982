#pragma once

#include <QString>
#include <functional>

// How the user answered a password request.
enum class TZipPasswordAnswer { Ok, Cancel, CancelAll };

struct TZipPasswordReply {
    TZipPasswordAnswer Answer = TZipPasswordAnswer::Cancel;
    QString Password;
};

// Asks for the password of an encrypted member (its name is given). The component's
// default shows the modal password dialog; tests install their own.
using TZipPasswordPrompt = std::function<TZipPasswordReply(const QString& memberName)>;
