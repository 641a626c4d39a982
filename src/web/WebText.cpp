#include "web/WebText.h"

#include "app/EventPump.h"
#include "web/HttpGetRequest.h"
#include "web/HttpSession.h"

#include <QScopedValueRollback>
#include <QTimer>

#include <optional>

namespace {
constexpr int PieceBytes = 4096;

// The part after the first occurrence of marker, if it occurs.
std::optional<QString> After(const QString& text, const QString& marker) {
    const qsizetype at = text.indexOf(marker);
    if (at < 0)
        return std::nullopt;
    return text.mid(at + marker.size());
}
} // namespace

bool TWebText::Collect() {
    if (running)
        return false;
    cancelled = false;
    const QScopedValueRollback busy(running, true);

    for (int i = 0; i < Data.Count(); ++i) {
        Data[i].Found = false;
        Data[i].Failure = {};
    }
    if (Data.Count() == 0)
        return true;

    THttpSession session(Agent, Proxy, ProxyUserID, ProxyPassword);
    // Items that name the same address one after another share one download.
    QString lastUrl;
    bool haveLast = false;
    QByteArray lastBody;

    for (int i = 0; i < Data.Count(); ++i) {
        if (!Data[i].Enable || cancelled)
            continue;
        const QString url = Data[i].URL;
        if (!haveLast || url != lastUrl) {
            lastBody.clear();
            haveLast = Fetch(session, i, url, lastBody) == FetchOutcome::Body;
            lastUrl = haveLast ? url : QString();
        }
        // Callbacks may have changed the collection.
        if (haveLast && i < Data.Count())
            Extract(i, lastBody);
    }

    bool all = true;
    for (int i = 0; i < Data.Count(); ++i)
        all = all && Data[i].Found;
    return all;
}

void TWebText::Cancel() {
    if (!running)
        return;
    cancelled = true;
    halt = true;
}

TWebText::FetchOutcome TWebText::Fetch(THttpSession& session, int index, const QString& url,
                                       QByteArray& body) {
    halt = cancelled;
    bool expired = false;
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, [this, &expired] {
        expired = true;
        halt = true;
    });
    deadline.start(DeadlineMs);
    // A server that trickles its answer counts as unreachable, like one that never answers.
    const auto noteFailure = [&](const WebFailure& failure) {
        if (index < Data.Count())
            Data[index].Failure = failure;
    };
    const auto failed = [&] {
        body.clear();
        if (expired) {
            noteFailure(WebFailure::Of(WebFailure::Cause::TimedOut));
            if (OnCollectError)
                OnCollectError(*this, index, -1);
        }
        return FetchOutcome::Failed;
    };

    THttpGetRequest request(session);
    if (!request.Open(url, {}, &halt)) {
        if (!halt) {
            noteFailure(request.Failure());
            if (OnCollectError)
                OnCollectError(*this, index, -1);
        }
        return failed();
    }
    const int status = request.Status();
    // Only a success carries the file: a server's error page is no version text.
    if (status < 200 || status >= 300) {
        request.Close();
        noteFailure(request.StatusFailure());
        if (OnCollectError)
            OnCollectError(*this, index, status);
        return FetchOutcome::Failed;
    }
    if (request.ContentLength() > uint64_t(MaxBodyBytes)) {
        noteFailure(WebFailure::Of(WebFailure::Cause::Other, QStringLiteral("answer too long")));
        return failed();
    }
    char piece[PieceBytes];
    for (;;) {
        ProcessMessages();
        const int64_t got = request.Read(piece, PieceBytes, &halt);
        if (halt)
            return failed();
        if (got > 0 && body.size() + got > MaxBodyBytes) {
            noteFailure(
                WebFailure::Of(WebFailure::Cause::Other, QStringLiteral("answer too long")));
            return failed();
        }
        if (got <= 0)
            break;
        body.append(piece, static_cast<qsizetype>(got));
    }
    // An empty body is no answer.
    return body.isEmpty() ? FetchOutcome::Failed : FetchOutcome::Body;
}

void TWebText::Extract(int index, const QByteArray& body) {
    const QString text = QString::fromLatin1(body);
    Data[index].Text.clear();
    if (OnProgress)
        OnProgress(*this, index);
    if (index >= Data.Count())
        return;
    TWebTextItem& item = Data[index];
    // An empty marker is not used; a marker that is set but absent means nothing is found.
    // Without a first marker the whole text is kept.
    QString found = text;
    for (const QString* marker : {&item.ScanFirst, &item.ScanFrom}) {
        if (item.ScanFirst.isEmpty() || marker->isEmpty())
            continue;
        std::optional<QString> rest = After(found, *marker);
        if (!rest)
            return;
        found = *rest;
    }
    if (!item.ScanFirst.isEmpty() && !item.ScanTo.isEmpty()) {
        const qsizetype end = found.indexOf(item.ScanTo);
        if (end < 0)
            return;
        found.truncate(end);
    }
    item.Text = found;
    item.Found = true;
    if (OnData)
        OnData(*this, index, item.Text);
}
