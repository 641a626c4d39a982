#pragma once

#include "web/ItemCollection.h"
#include "web/TransferDialog.h"
#include "web/TransferDialogSettings.h"
#include "web/TransferFloor.h"
#include "web/WebFailure.h"

#include <QPointer>
#include <QString>
#include <cstdint>
#include <functional>

class TWebGet;
class THttpGetRequest;
class THttpSession;
class OutputFile;

// Transfer kinds; this engine carries out HTTP downloads.
enum class TWebGetProtocol { wpHttp };

// One file to transfer and its outcome.
struct TWebGetItem {
    QString URL;
    // Directory that receives the file; created when missing.
    QString TargetDir;
    // Name of the target file; empty means the last path part of URL.
    QString TargetFilename;
    TWebGetProtocol Protocol = TWebGetProtocol::wpHttp;
    bool Active = true;
    // Run-time result: the transfer delivered data and was not cancelled.
    bool Done = false;
    // Run-time result: why the server's side of the transfer failed; none when it did not
    // (or the failure was the disk's, or a cancel).
    WebFailure Failure;
    // Basic-authentication credentials, sent when either is set.
    QString HTTPUserID;
    QString HTTPPassword;
};

// The ordered items of a TWebGet; references stay valid while items are added at the end.
using TWebGetItems = TItemCollection<TWebGetItem>;

using TWebGetFileStart = std::function<void(TWebGet& sender, int idx)>;
using TWebGetFileDone = std::function<void(TWebGet& sender, int idx)>;
using TWebGetThreadDone = std::function<void(TWebGet& sender)>;
using TWebGetCancel = std::function<void(TWebGet& sender)>;
using TWebGetOverwrite = std::function<void(TWebGet& sender, const QString& tgtfile, bool& allow)>;
using TWebGetProgress =
    std::function<void(TWebGet& sender, int fileidx, uint64_t size, uint64_t totsize)>;
using TWebGetError = std::function<void(TWebGet& sender, int ErrorCode)>;
using TWebGetErrorInfo =
    std::function<void(TWebGet& sender, int ErrorCode, const QString& ErrorInfo)>;
using TWebGetURLNotFound = std::function<void(TWebGet& sender, const QString& url)>;
using TWebGetBeforeDialogShow = std::function<void(TWebGet& sender, TTransferDialog& ADialog)>;

// Downloads a list of files over HTTP into directories while a progress dialog shows size,
// rate and a Cancel button. Works synchronously on the caller's thread and processes its
// events between pieces.
class TWebGet {
public:
    TWebGetItems Items;
    // What the progress dialog shows, and its texts.
    TTransferDialogSettings DialogSettings;
    // A body that states no length is given up beyond this many bytes.
    uint64_t MaxUnsizedBytes = uint64_t(256) * 1024 * 1024;
    // A server that sends less than this has stalled: the item fails (OnError code 4).
    TransferFloor Floor = TransferFloor::Default();
    // What a download must leave free on the target's disk, before and while it writes.
    int64_t MinFreeSpace;
    // Empty: the system's proxy settings; otherwise "host[:port]" of an HTTP proxy.
    QString Proxy;
    QString ProxyUserID;
    QString ProxyPassword;

    TWebGetFileStart OnFileStart;
    TWebGetFileDone OnFileDone;
    TWebGetThreadDone OnCopyDone;
    TWebGetCancel OnCopyCancel;
    TWebGetOverwrite OnCopyOverWrite;
    TWebGetProgress OnCopyProgress;
    TWebGetError OnError;
    TWebGetErrorInfo OnErrorInfo;
    TWebGetURLNotFound OnURLNotFound;
    TWebGetBeforeDialogShow OnBeforeDialogShow;

    static QString Version() { return QStringLiteral("1.0.0.0"); }

    TWebGet();
    ~TWebGet();
    TWebGet(const TWebGet&) = delete;
    TWebGet& operator=(const TWebGet&) = delete;

    // Carries out every active item in order; returns when all are finished, failed or
    // cancelled, with the dialog closed and destroyed. Network failures end up in the items'
    // Done and the callbacks. A body that breaks off, does not match its stated length,
    // exceeds MaxUnsizedBytes or would leave less than MinFreeSpace on the disk fails the
    // item (OnError code 4 or 5) and leaves no file; a failure to write a target part-way raises
    // EInOutError. A call made while one runs (from an event it processes) returns at once and
    // changes nothing.
    void Execute();

    bool Executing() const { return running; }
    // The dialog of the running Execute, null otherwise.
    TTransferDialog* Dialog() const { return dialog.data(); }
    // Cancels the running transfer as the dialog's Cancel button does.
    void Cancel();

    QString LastTargetFile() const { return lastTargetFile; }
    QString LastTargetDir() const { return lastTargetDir; }

private:
    // How copying a body ended: failure is 0 or the error code that fails the item.
    struct Copied {
        int failure = 0;
        bool any = false; // some data arrived
    };

    bool DownloadHttp(THttpSession& session, int idx, int fileNumber, int activeCount);
    // Sends the item's request; false (with the callbacks raised) when it gives no body.
    bool OpenRequest(THttpGetRequest& request, int idx, const QString& target);
    void NoteFailure(int idx, const WebFailure& failure);
    // Copies the body into file while the dialog shows the progress.
    Copied CopyBody(THttpGetRequest& request, OutputFile& file, uint64_t total, int fileNumber);
    // "Error reading source file URL", with the reason when the server stalled.
    QString ReadingFailure(const THttpGetRequest& request, const QString& url) const;
    [[noreturn]] static void WriteFailed(OutputFile& file);
    bool EnoughSpace(const QString& dir, uint64_t needed) const;
    bool CancelRaised() const;
    void RaiseError(int code, const QString& info);

    QPointer<TTransferDialog> dialog;
    bool running = false;
    QString lastTargetFile;
    QString lastTargetDir;
};

// The last path part of an address: everything after the last '/', then after the last '\'.
QString UrlFileName(const QString& url);
// The host of an address with its port, without scheme, user information or path.
QString UrlServerPart(const QString& url);
