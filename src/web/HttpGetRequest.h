#pragma once

#include "web/TransferFloor.h"
#include "web/WebFailure.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QPair>
#include <QString>
#include <cstdint>
#include <optional>

class QNetworkReply;
class THttpSession;

// One GET request, read synchronously in pieces on the caller's thread. Every wait
// processes the caller's pending events and never spins; a raised cancel flag ends it.
class THttpGetRequest {
public:
    using RawHeaders = QList<QPair<QByteArray, QByteArray>>;

    explicit THttpGetRequest(THttpSession& session);
    ~THttpGetRequest();
    THttpGetRequest(const THttpGetRequest&) = delete;
    THttpGetRequest& operator=(const THttpGetRequest&) = delete;

    // With a floor, a server that sends too little (see TransferFloor) ends Open or Read as a
    // failure, and Stalled() says so. Without one only the transfer time-out applies.
    void SetFloor(const TransferFloor& floor) { this->floor = floor; }
    bool Stalled() const { return stalled; }

    // Sends the request (redirects followed, never from or into a cache) and waits for the
    // final response. False when the address cannot be opened or cancel was raised.
    bool Open(const QString& url, const RawHeaders& extraHeaders = {},
              const bool* cancel = nullptr);

    // The final response's status code (after Open succeeded).
    int Status() const { return status; }
    // Why Open or Read failed (not for a cancel); a status the server answered with is the
    // caller's to judge (StatusFailure).
    const WebFailure& Failure() const { return failure; }
    // The response's status as a failure, with the server's phrase.
    WebFailure StatusFailure() const { return WebFailure::OfStatus(status, phrase); }
    // The announced body length, 0 when the server sent none.
    uint64_t ContentLength() const;

    // Waits for the next piece of the body and copies up to max bytes of it. 0 at the end
    // of the body; -1 when the transfer broke off or cancel was raised.
    int64_t Read(char* buffer, int64_t max, const bool* cancel = nullptr);

    // Ends the request; further reads give -1.
    void Close();

private:
    bool Cancelled(const bool* cancel) const { return cancel && *cancel; }
    // Whether the window that ran out brought less than the floor; a window that brought
    // enough starts the next one.
    bool Starved();

    THttpSession& session;
    QNetworkReply* reply = nullptr;
    bool responded = false;
    bool finished = false;
    int status = 0;
    std::optional<TransferFloor> floor;
    QElapsedTimer window;
    qint64 windowBytes = 0;
    bool stalled = false;
    WebFailure failure;
    QString phrase;
};
