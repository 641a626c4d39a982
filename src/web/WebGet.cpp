#include "web/WebGet.h"

#include "app/Errors.h"
#include "app/EventPump.h"
#include "app/FileUtils.h"
#include "app/OutputFile.h"
#include "web/HttpGetRequest.h"
#include "web/HttpSession.h"
#include "web/TransferDialog.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QScopedValueRollback>
#include <memory>

namespace {
constexpr int PieceBytes = 4096;
constexpr qsizetype WriteBufferBytes = 256 * 1024;
constexpr int CannotCreateFile = 3;
constexpr int ErrorReadingSource = 4;
constexpr int ErrorWritingTarget = 5;
const QString Agent = QStringLiteral("WebGet");

THttpGetRequest::RawHeaders AuthorizationHeaders(const TWebGetItem& item) {
    if (item.HTTPUserID.isEmpty() && item.HTTPPassword.isEmpty())
        return {};
    const QByteArray credentials =
        (item.HTTPUserID + QLatin1Char(':') + item.HTTPPassword).toUtf8();
    return {{QByteArrayLiteral("Authorization"), "Basic " + credentials.toBase64()}};
}
} // namespace

QString UrlFileName(const QString& url) {
    QString name = url.mid(url.lastIndexOf(QLatin1Char('/')) + 1);
    return name.mid(name.lastIndexOf(QLatin1Char('\\')) + 1);
}

QString UrlServerPart(const QString& url) {
    QString rest = url;
    const qsizetype scheme = rest.indexOf(QStringLiteral("://"));
    if (scheme >= 0)
        rest = rest.mid(scheme + 3);
    qsizetype end = rest.size();
    for (QChar stop : {QLatin1Char('/'), QLatin1Char('?'), QLatin1Char('#')}) {
        const qsizetype at = rest.indexOf(stop);
        if (at >= 0 && at < end)
            end = at;
    }
    // User information belongs to the authority only; an '@' in the path is not one.
    const QString authority = rest.left(end);
    return authority.mid(authority.lastIndexOf(QLatin1Char('@')) + 1);
}

TWebGet::TWebGet() : MinFreeSpace(DiskSpaceReserve) {}
TWebGet::~TWebGet() = default;

void TWebGet::Execute() {
    if (running)
        return;
    const QScopedValueRollback busy(running, true);

    // Owned here so that it is closed and destroyed however Execute ends.
    auto ownedDialog = std::make_unique<TTransferDialog>(DialogSettings);
    dialog = ownedDialog.get();
    dialog->OnCancel = [this] {
        if (OnCopyCancel)
            OnCopyCancel(*this);
    };
    if (DialogSettings.ShowDialog) {
        if (OnBeforeDialogShow)
            OnBeforeDialogShow(*this, *dialog);
        dialog->ShowCentred();
    }

    int activeCount = 0;
    for (int i = 0; i < Items.Count(); ++i)
        activeCount += Items[i].Active ? 1 : 0;
    std::unique_ptr<THttpSession> session;
    if (activeCount > 0)
        session = std::make_unique<THttpSession>(Agent, Proxy, ProxyUserID, ProxyPassword);

    int fileNumber = 0;
    for (int idx = 0; idx < Items.Count(); ++idx) {
        if (!Items[idx].Active)
            continue;
        ++fileNumber;
        if (OnFileStart)
            OnFileStart(*this, idx);
        dialog->StartDownload();
        Items[idx].Failure = {};
        const bool result = DownloadHttp(*session, idx, fileNumber, activeCount);
        // Callbacks may have shortened the list.
        if (idx < Items.Count())
            Items[idx].Done = result && !CancelRaised();
        if (CancelRaised())
            break;
        if (OnFileDone)
            OnFileDone(*this, idx);
    }

    session.reset();
    ownedDialog->close();
    ownedDialog.reset();
    if (OnCopyDone)
        OnCopyDone(*this);
}

void TWebGet::Cancel() {
    if (running && dialog && !dialog->Cancelled())
        dialog->Cancel();
}

bool TWebGet::CancelRaised() const {
    return dialog && dialog->Cancelled();
}

void TWebGet::RaiseError(int code, const QString& info) {
    if (OnError)
        OnError(*this, code);
    if (OnErrorInfo)
        OnErrorInfo(*this, code, info);
}

bool TWebGet::DownloadHttp(THttpSession& session, int idx, int fileNumber, int activeCount) {
    // A copy: callbacks run while the item is transferred.
    const TWebGetItem item = Items[idx];
    const QString name = UrlFileName(item.URL);
    dialog->SetFileLine(fileNumber, activeCount, Items.Count(), name, UrlServerPart(item.URL));
    ProcessMessages();

    const QString target =
        AddBackslash(item.TargetDir) + (item.TargetFilename.isEmpty() ? name : item.TargetFilename);
    THttpGetRequest request(session);
    if (!OpenRequest(request, idx, target))
        return false;

    lastTargetFile = target;
    lastTargetDir = item.TargetDir;
    if (QFileInfo::exists(target) && OnCopyOverWrite) {
        bool allow = true;
        OnCopyOverWrite(*this, target, allow);
        if (!allow)
            return false;
    }
    if (!item.TargetDir.isEmpty())
        QDir().mkpath(item.TargetDir);
    const uint64_t total = request.ContentLength();
    if (!EnoughSpace(QFileInfo(target).absolutePath(), total)) {
        request.Close();
        RaiseError(ErrorWritingTarget,
                   QStringLiteral("Error writing to destination file ") + target);
        return false;
    }
    OutputFile file(target, WriteBufferBytes);
    if (!file.Open()) {
        request.Close();
        RaiseError(CannotCreateFile, QStringLiteral("Cannot create file ") + target);
        return false;
    }
    const Copied copied = CopyBody(request, file, total, fileNumber);
    const bool kept = copied.failure == 0 && !CancelRaised();
    if (kept && !file.Commit())
        WriteFailed(file);
    // What was not kept is gone before the error events run (they process events).
    request.Close();
    file.Discard();
    if (copied.failure == ErrorReadingSource) {
        NoteFailure(idx, request.Failure().Failed() ? request.Failure()
                                                    : WebFailure::Of(WebFailure::Cause::BrokenOff));
        RaiseError(copied.failure, ReadingFailure(request, item.URL));
    } else if (copied.failure == ErrorWritingTarget)
        RaiseError(copied.failure, QStringLiteral("Error writing to destination file ") + target);
    return copied.any && kept;
}

void TWebGet::NoteFailure(int idx, const WebFailure& failure) {
    if (idx < Items.Count())
        Items[idx].Failure = failure;
}

bool TWebGet::OpenRequest(THttpGetRequest& request, int idx, const QString& target) {
    const TWebGetItem item = Items[idx];
    request.SetFloor(Floor);
    const bool opened = request.Open(item.URL, AuthorizationHeaders(item), &dialog->CancelFlag());
    ProcessMessages();
    if (!opened && CancelRaised()) {
        // A cancelled transfer leaves no file, even when it never got to the server.
        QFile::remove(target);
        return false;
    }
    // A server that answers too slowly to be waited for is a failed download, not a
    // missing file.
    if (!opened && request.Stalled()) {
        NoteFailure(idx, request.Failure());
        RaiseError(ErrorReadingSource, ReadingFailure(request, item.URL));
        return false;
    }
    if (!opened) {
        NoteFailure(idx, request.Failure());
        if (OnURLNotFound)
            OnURLNotFound(*this, item.URL);
        return false;
    }
    const int status = request.Status();
    if (status < 200 || status >= 300) {
        request.Close();
        NoteFailure(idx, request.StatusFailure());
        RaiseError(status, QStringLiteral("Returned http error code ") + QString::number(status));
        return false;
    }
    return true;
}

TWebGet::Copied TWebGet::CopyBody(THttpGetRequest& request, OutputFile& file, uint64_t total,
                                  int fileNumber) {
    const QString targetDir = QFileInfo(file.Path()).absolutePath();
    Copied copied;
    uint64_t received = 0;
    QElapsedTimer clock;
    clock.start();
    char piece[PieceBytes];
    int64_t got = 1;
    while (!CancelRaised() && got > 0) {
        ProcessMessages();
        if (CancelRaised())
            break;
        got = request.Read(piece, PieceBytes, &dialog->CancelFlag());
        if (got < 0) {
            // Broken off: what arrived is not the whole file.
            if (!CancelRaised())
                copied.failure = ErrorReadingSource;
            return copied;
        }
        if (got > 0) {
            received += static_cast<uint64_t>(got);
            if (received > (total > 0 ? total : MaxUnsizedBytes)) {
                copied.failure = ErrorReadingSource;
                return copied;
            }
            const qint64 before = file.Written();
            if (!file.Write(piece, static_cast<qsizetype>(got)))
                WriteFailed(file);
            // The disk may fill while the file grows: checked whenever a buffer went out.
            if (file.Written() != before && !EnoughSpace(targetDir, 0)) {
                copied.failure = ErrorWritingTarget;
                return copied;
            }
            copied.any = true;
        }
        const auto elapsed = static_cast<uint64_t>(clock.elapsed());
        dialog->ShowProgress(received, total, elapsed);
        if (OnCopyProgress)
            OnCopyProgress(*this, fileNumber, received, total);
    }
    if (total > 0 && received != total && !CancelRaised())
        copied.failure = ErrorReadingSource;
    return copied;
}

QString TWebGet::ReadingFailure(const THttpGetRequest& request, const QString& url) const {
    QString text = QStringLiteral("Error reading source file ") + url;
    if (request.Stalled())
        text += QStringLiteral(" (the server sent %1)").arg(Floor.Shortfall());
    return text;
}

void TWebGet::WriteFailed(OutputFile& file) {
    const QString reason = file.ErrorString();
    const int code = static_cast<int>(file.Error());
    // Leaves nothing half-written behind; the request closes as the stack unwinds.
    file.Discard();
    throw EInOutError(QStringLiteral("Cannot write file %1: %2").arg(file.Path(), reason), code);
}

bool TWebGet::EnoughSpace(const QString& dir, uint64_t needed) const {
    return LeavesReserve(dir, needed, MinFreeSpace);
}
