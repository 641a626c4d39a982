#include "cli/FirmwareSource.h"

#include "app/FileUtils.h"
#include "app/SafeFiles.h"
#include "cli/ProgressPrinter.h"
#include "web/UpdateServer.h"

#include <QFileInfo>
#include <QUrl>

namespace {
const QString WorkFolderName = QStringLiteral("QLMUpdate");

// A server's address as it may be shown: a password in it is hidden.
QString ShownAddress(const QString& url) {
    QUrl parsed(url);
    if (parsed.password().isEmpty())
        return url;
    parsed.setPassword(QStringLiteral("***"));
    return parsed.toString();
}
} // namespace

void FirmwareSource::LoadLog::AppendLine(const QString& line) {
    Flush();
    pending_ = line;
    if (line.startsWith(QLatin1String("[NOTE:")))
        note_ = line;
}

void FirmwareSource::LoadLog::ExtendLastLine(const QString& suffix) {
    pending_ += suffix;
}

void FirmwareSource::LoadLog::Flush() {
    if (!pending_.trimmed().isEmpty())
        printer_.Note(pending_);
    pending_.clear();
}

FirmwareSource::FirmwareSource(ProgressPrinter& printer)
    : printer_(printer), log_(printer), flasher_(unusedPort_, log_),
      webFlow_(webText_, webGet_, zip_, flasher_, log_, *this),
      loader_(zip_, flasher_, log_, *this) {
    flasher_.SetWorkDirectory(workFolder_.Open(SystemTempPath(), WorkFolderName));
    // Nobody is there to answer a password request; an encrypted package is refused.
    zip_.PasswordPrompt = [](const QString&) {
        return TZipPasswordReply{TZipPasswordAnswer::CancelAll, QString()};
    };
    webGet_.DialogSettings.ShowDialog = false;
    webGet_.OnCopyProgress = [this](TWebGet&, int, uint64_t size, uint64_t total) {
        printer_.Download(qint64(size), qint64(total));
    };
    webGet_.OnErrorInfo = [this](TWebGet&, int, const QString& info) {
        // The component names the address as it was given, password and all.
        problem_ = QStringLiteral("the package download failed: %1")
                       .arg(QString(info).replace(server_, subject_));
    };
}

FirmwareSource::~FirmwareSource() {
    workFolder_.Remove();
}

bool FirmwareSource::Load(const QStringList& files, const QString& server,
                          const QHash<QString, QByteArray>& rawNames) {
    const bool loaded = files.isEmpty() ? LoadFromServer(server) : LoadFiles(files, rawNames);
    log_.Flush();
    return loaded;
}

bool FirmwareSource::LoadFiles(const QStringList& files,
                               const QHash<QString, QByteArray>& rawNames) {
    QStringList paths;
    QStringList names;
    for (const QString& file : files) {
        // A name that is not text reaches its file through a link named as it is shown.
        const QString link =
            rawNames.contains(file)
                ? LinkToRawName(PreparePrivateFolder(WorkDirectory(), QStringLiteral("given")),
                                QFileInfo(file).fileName(), rawNames.value(file))
                : QString();
        paths << (link.isEmpty() ? QFileInfo(file).absoluteFilePath() : link);
        names << file;
    }
    subject_ = names.join(QStringLiteral(", "));
    if (loader_.Load(paths))
        return true;
    problem_ = ProgressPrinter::MonitorText(log_.LastNote());
    if (problem_.isEmpty())
        problem_ = QStringLiteral("the firmware could not be loaded");
    return false;
}

bool FirmwareSource::LoadFromServer(const QString& server) {
    const QString base = server.isEmpty() ? UpdateServer::BaseUrl() : server;
    webText_.Data.Clear();
    webText_.Data.Add().URL = base + UpdateServer::VersionFilePath;
    webGet_.Items.Clear();
    TWebGetItem& package = webGet_.Items.Add();
    package.URL = base + UpdateServer::PackagePath;
    package.TargetDir = flasher_.WorkDirectory();
    server_ = base;
    subject_ = ShownAddress(base);
    problem_.clear();
    if (webFlow_.Run())
        return true;
    const WebFailure& versionFailure = webText_.Data[0].Failure;
    const WebFailure packageFailure =
        webGet_.Items.Count() > 0 ? webGet_.Items[0].Failure : WebFailure();
    if (versionFailure.Failed())
        problem_ = QStringLiteral("the version file cannot be fetched: ") + versionFailure.Text();
    else if (!webText_.Data[0].Found)
        problem_ = QStringLiteral("no version file on the server");
    else if (packageFailure.Failed())
        problem_ = QStringLiteral("the package download failed: ") + packageFailure.Text();
    else if (problem_.isEmpty())
        problem_ = version_.isEmpty()
                       ? QStringLiteral("the server's version file has no version line")
                       : QStringLiteral("the package holds no usable firmware");
    return false;
}

void FirmwareSource::Cancel() {
    webFlow_.Cancel();
    loader_.Cancel();
}

void FirmwareSource::SetWebCaption(const QString& caption) {
    // "Firmware Webcheck (Vers.: 2.17)": the version the server offers.
    const int at = caption.indexOf(QLatin1String("Vers.: "));
    if (at >= 0)
        version_ = caption.mid(at + 7).chopped(1).trimmed();
}
