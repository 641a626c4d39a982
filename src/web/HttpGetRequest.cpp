#include "web/HttpGetRequest.h"

#include "app/EventPump.h"
#include "web/HttpSession.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

namespace {
// A stalled server ends the transfer as a network failure instead of hanging the caller.
constexpr int TransferTimeoutMs = 30000;
// Bounds what the client buffers ahead of our reads, so memory stays flat.
constexpr qint64 ReadAheadBytes = 512 * 1024;

bool IsRedirectStatus(int status) {
    return status == 301 || status == 302 || status == 303 || status == 305 || status == 307 ||
           status == 308;
}

// Errors of the connection itself, as opposed to an HTTP status the body belongs to.
bool IsTransportError(QNetworkReply::NetworkError error) {
    return (error > QNetworkReply::NoError && error < QNetworkReply::ContentAccessDenied) ||
           error == QNetworkReply::ProtocolFailure;
}
WebFailure FailureOf(const QNetworkReply& reply) {
    using Cause = WebFailure::Cause;
    switch (reply.error()) {
    case QNetworkReply::HostNotFoundError:
        return WebFailure::Of(Cause::NameNotFound);
    case QNetworkReply::ConnectionRefusedError:
        return WebFailure::Of(Cause::Refused);
    case QNetworkReply::RemoteHostClosedError:
        return WebFailure::Of(Cause::Closed);
    case QNetworkReply::TimeoutError:
    case QNetworkReply::OperationCanceledError: // the transfer time-out; a cancel is ours
        return WebFailure::Of(Cause::TimedOut);
    case QNetworkReply::UnknownNetworkError:
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError:
        return WebFailure::Of(Cause::NoRoute);
    default:
        return WebFailure::Of(Cause::Other, reply.errorString());
    }
}
} // namespace

THttpGetRequest::THttpGetRequest(THttpSession& session) : session(session) {}

THttpGetRequest::~THttpGetRequest() {
    Close();
}

bool THttpGetRequest::Open(const QString& url, const RawHeaders& extraHeaders, const bool* cancel) {
    Close();
    responded = false;
    finished = false;
    status = 0;
    stalled = false;
    failure = {};
    phrase.clear();
    windowBytes = 0;
    window.start();

    QNetworkRequest request{QUrl(url)};
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setTransferTimeout(TransferTimeoutMs);
    request.setHeader(QNetworkRequest::UserAgentHeader, session.Agent());
    request.setRawHeader("Cache-Control", "no-cache");
    request.setRawHeader("Pragma", "no-cache");
    // The bytes exactly as the server holds them: no transparent decompression.
    request.setRawHeader("Accept-Encoding", "identity");
    for (const auto& header : extraHeaders)
        request.setRawHeader(header.first, header.second);

    reply = session.Manager().get(request);
    reply->setReadBufferSize(ReadAheadBytes);
    QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, [this] {
        const QVariant code = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        // A redirect that is being followed is not the final response.
        if (code.isValid() && !IsRedirectStatus(code.toInt()))
            responded = true;
    });
    QObject::connect(reply, &QNetworkReply::readyRead, reply, [this] { responded = true; });
    QObject::connect(reply, &QNetworkReply::finished, reply, [this] { finished = true; });

    while (!responded && !finished) {
        if (Cancelled(cancel)) {
            Close();
            return false;
        }
        // The headers are far below the floor: they must be in within the first window.
        if (floor && window.elapsed() >= floor->windowMs) {
            stalled = true;
            failure = WebFailure::Of(WebFailure::Cause::Stalled, floor->Shortfall());
            Close();
            return false;
        }
        WaitPass();
    }
    const QVariant code = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!code.isValid()) {
        failure = FailureOf(*reply);
        Close();
        return false;
    }
    status = code.toInt();
    phrase = reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString();
    return true;
}

bool THttpGetRequest::Starved() {
    if (!floor || window.elapsed() < floor->windowMs)
        return false;
    if (windowBytes < floor->minBytes)
        return true;
    window.restart();
    windowBytes = 0;
    return false;
}

uint64_t THttpGetRequest::ContentLength() const {
    if (!reply)
        return 0;
    const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
    return length.isValid() ? length.toULongLong() : 0;
}

int64_t THttpGetRequest::Read(char* buffer, int64_t max, const bool* cancel) {
    for (;;) {
        if (!reply || Cancelled(cancel))
            return -1;
        if (!finished && Starved()) {
            stalled = true;
            failure = WebFailure::Of(WebFailure::Cause::Stalled, floor->Shortfall());
            Close();
            return -1;
        }
        if (reply->bytesAvailable() > 0) {
            const int64_t got = reply->read(buffer, max);
            windowBytes += got > 0 ? got : 0;
            return got;
        }
        if (finished) {
            if (!IsTransportError(reply->error()))
                return 0;
            failure = WebFailure::Of(WebFailure::Cause::BrokenOff);
            return -1;
        }
        WaitPass();
    }
}

void THttpGetRequest::Close() {
    if (!reply)
        return;
    QNetworkReply* ending = reply;
    reply = nullptr;
    QObject::disconnect(ending, nullptr, ending, nullptr);
    ending->abort();
    delete ending;
}
