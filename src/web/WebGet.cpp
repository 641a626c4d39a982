#include "web/WebGet.h"

#include "app/Errors.h"
#include "app/EventPump.h"
#include "app/FileUtils.h"
#include "app/SafeFiles.h"
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
    auto ownedDialog =
        std::make_unique<TTransferDialog>(static_cast<const TTransferDialogSettings&>(*this));
    dialog = ownedDialog.get();
    dialog->OnCancel = [this] {
        if (OnCopyCancel)
            OnCopyCancel(*this);
    };
    if (ShowDialog) {
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
    const bool opened = request.Open(item.URL, AuthorizationHeaders(item), &dialog->CancelFlag());
    ProcessMessages();
    if (!opened && CancelRaised()) {
        // A cancelled transfer leaves no file, even when it never got to the server.
        QFile::remove(target);
        return false;
    }
    if (!opened) {
        if (OnURLNotFound)
            OnURLNotFound(*this, item.URL);
        return false;
    }
    const int status = request.Status();
    if (status < 200 || status >= 300) {
        request.Close();
        RaiseError(status, QStringLiteral("Returned http error code ") + QString::number(status));
        return false;
    }

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
    const QString targetDir = QFileInfo(target).absolutePath();
    const uint64_t total = request.ContentLength();
    if (!EnoughSpace(targetDir, total)) {
        request.Close();
        RaiseError(ErrorWritingTarget,
                   QStringLiteral("Error writing to destination file ") + target);
        return false;
    }
    // Never written through a link that someone placed under the target's name.
    const int fd = OpenForWritingNoFollow(target);
    QFile file;
    // Unbuffered: the pieces are gathered in writeBuffer, so few large writes reach the disk.
    if (fd < 0 || !file.open(fd, QIODevice::WriteOnly | QIODevice::Unbuffered,
                             QFileDevice::AutoCloseHandle)) {
        request.Close();
        RaiseError(CannotCreateFile, QStringLiteral("Cannot create file ") + target);
        return false;
    }

    // Leaves nothing open or half-written behind when the disk refuses the data.
    auto writeFailed = [&] {
        const QString reason = file.errorString();
        const int code = static_cast<int>(file.error());
        file.close();
        QFile::remove(target);
        request.Close();
        throw EInOutError(QStringLiteral("Cannot write file %1: %2").arg(target, reason), code);
    };

    QByteArray writeBuffer;
    writeBuffer.reserve(WriteBufferBytes);
    auto flushBuffer = [&] {
        if (!writeBuffer.isEmpty() && file.write(writeBuffer) != writeBuffer.size())
            writeFailed();
        writeBuffer.resize(0);
    };

    // What ends a transfer as a failure that leaves no file: 0 for none.
    int failure = 0;
    uint64_t received = 0;
    QElapsedTimer clock;
    clock.start();
    bool result = false;
    char piece[PieceBytes];
    int64_t got = 1;
    while (!CancelRaised() && got > 0 && failure == 0) {
        ProcessMessages();
        if (CancelRaised())
            break;
        got = request.Read(piece, PieceBytes, &dialog->CancelFlag());
        if (got < 0) {
            // Broken off: what arrived is not the whole file.
            if (!CancelRaised())
                failure = ErrorReadingSource;
            break;
        }
        if (got > 0) {
            received += static_cast<uint64_t>(got);
            if (received > (total > 0 ? total : MaxUnsizedBytes)) {
                failure = ErrorReadingSource;
                break;
            }
            writeBuffer.append(piece, static_cast<qsizetype>(got));
            if (writeBuffer.size() >= WriteBufferBytes) {
                flushBuffer();
                if (!EnoughSpace(targetDir, 0)) {
                    failure = ErrorWritingTarget;
                    break;
                }
            }
            result = true;
        }
        const auto elapsed = static_cast<uint64_t>(clock.elapsed());
        dialog->ShowProgress(received, total, elapsed);
        if (OnCopyProgress)
            OnCopyProgress(*this, fileNumber, received, total);
    }
    if (failure == 0 && total > 0 && received != total && !CancelRaised())
        failure = ErrorReadingSource;
    if (failure == 0)
        flushBuffer();
    file.close();
    request.Close();
    if (CancelRaised() || failure != 0)
        QFile::remove(target);
    if (failure == ErrorReadingSource)
        RaiseError(failure, QStringLiteral("Error reading source file ") + item.URL);
    else if (failure == ErrorWritingTarget)
        RaiseError(failure, QStringLiteral("Error writing to destination file ") + target);
    return result && failure == 0;
}

bool TWebGet::EnoughSpace(const QString& dir, uint64_t needed) const {
    return LeavesReserve(dir, needed, MinFreeSpace);
}
