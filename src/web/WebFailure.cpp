#include "web/WebFailure.h"

namespace {
// The phrases of the statuses a web server commonly sends, for a reply that brought none.
QString StandardPhrase(int status) {
    switch (status) {
    case 400:
        return QStringLiteral("Bad Request");
    case 401:
        return QStringLiteral("Unauthorized");
    case 403:
        return QStringLiteral("Forbidden");
    case 404:
        return QStringLiteral("Not Found");
    case 408:
        return QStringLiteral("Request Timeout");
    case 410:
        return QStringLiteral("Gone");
    case 429:
        return QStringLiteral("Too Many Requests");
    case 500:
        return QStringLiteral("Internal Server Error");
    case 502:
        return QStringLiteral("Bad Gateway");
    case 503:
        return QStringLiteral("Service Unavailable");
    case 504:
        return QStringLiteral("Gateway Timeout");
    default:
        return {};
    }
}
} // namespace

WebFailure WebFailure::OfStatus(int status, const QString& phrase) {
    const QString known = StandardPhrase(status);
    return {Cause::Status, status, known.isEmpty() ? phrase.trimmed() : known};
}

bool WebFailure::NetworkMayBeAtFault() const {
    switch (cause) {
    case Cause::NameNotFound:
    case Cause::NoRoute:
    case Cause::TimedOut:
    case Cause::Stalled:
    case Cause::BrokenOff:
    case Cause::Other:
        return true;
    default:
        return false;
    }
}

QString WebFailure::Text() const {
    const QString unreachable = QStringLiteral("the server cannot be reached: %1");
    switch (cause) {
    case Cause::None:
        return {};
    case Cause::NameNotFound:
        return unreachable.arg(QStringLiteral("name not found"));
    case Cause::NoRoute:
        return unreachable.arg(QStringLiteral("no route to it"));
    case Cause::TimedOut:
        return unreachable.arg(QStringLiteral("no answer in time"));
    case Cause::Refused:
        return unreachable.arg(QStringLiteral("connection refused"));
    case Cause::Stalled:
        return QStringLiteral("the server sent %1").arg(words);
    case Cause::Closed:
        return QStringLiteral("the server closed the connection without an answer");
    case Cause::Status:
        return QStringLiteral("the server answered %1%2")
            .arg(status)
            .arg(words.isEmpty() ? QString() : QLatin1Char(' ') + words);
    case Cause::BrokenOff:
        return QStringLiteral("the download broke off");
    case Cause::Other:
        return unreachable.arg(words.isEmpty() ? QStringLiteral("unknown error") : words);
    }
    return {};
}

QString WebFailure::Note() const {
    return Failed() ? QStringLiteral("[NOTE: %1]").arg(Text().toUpper()) : QString();
}
