#pragma once

#include "web/ItemCollection.h"
#include "web/WebFailure.h"

#include <QString>
#include <cstdint>
#include <functional>

class TWebText;

// One address to fetch, with the markers of the part to keep and the result.
struct TWebTextItem {
    QString URL;
    // Extraction starts after ScanFirst, then after ScanFrom, and ends before ScanTo.
    QString ScanFirst;
    QString ScanFrom;
    QString ScanTo;
    // The body (or its marked part), one character per byte exactly as received.
    QString Text;
    // True when the last Collect set Text.
    bool Found = false;
    // Why the last Collect could not fetch the address; none when it could, or was cancelled.
    WebFailure Failure;
    bool Enable = true;
    int32_t Tag = 0;
};

// The ordered items of a TWebText; references stay valid while items are added at the end.
using TWebTextCollection = TItemCollection<TWebTextItem>;

using TWebTextProgressEvent = std::function<void(TWebText& sender, int item)>;
using TWebTextDataEvent = std::function<void(TWebText& sender, int item, const QString& data)>;
using TCollectErrorEvent = std::function<void(TWebText& sender, int item, int errcode)>;

// Fetches the text of web addresses into memory, one item per address. Works synchronously
// on the caller's thread and keeps it responsive by processing its events while it reads.
class TWebText {
public:
    QString Agent = QStringLiteral("WebText");
    // Empty: the system's proxy settings; otherwise "host[:port]" of an HTTP proxy.
    QString Proxy;
    QString ProxyUserID;
    QString ProxyPassword;
    TWebTextCollection Data;

    // Raised when an item's text is about to be extracted.
    TWebTextProgressEvent OnProgress;
    // Raised when an item's Text has been set.
    TWebTextDataEvent OnData;
    // Raised when an address cannot be fetched: -1 when it cannot be opened, otherwise the
    // refused status.
    TCollectErrorEvent OnCollectError;

    static QString Version() { return QStringLiteral("1.0.0.0"); }

    // A body longer than this is no text worth keeping: the fetch fails.
    static constexpr qsizetype MaxBodyBytes = 64 * 1024;
    // The longest one address may take, however slowly its server keeps sending; at the
    // deadline the fetch fails as if the server could not be reached.
    int DeadlineMs = 60000;

    // Fetches every enabled item; true when every item's Found is true afterwards. Network
    // failures are reported through the items, never raised. A call made while one runs
    // (from an event it processes) returns false at once and changes nothing.
    bool Collect();

    bool Collecting() const { return running; }
    // Ends a running Collect soon: the item being fetched and the rest fail.
    void Cancel();

private:
    enum class FetchOutcome { Body, Failed };
    FetchOutcome Fetch(class THttpSession& session, int index, const QString& url,
                       QByteArray& body);
    void Extract(int index, const QByteArray& body);

    bool running = false;
    bool cancelled = false;
    bool halt = false; // cancelled, or the running fetch's deadline has passed
};
