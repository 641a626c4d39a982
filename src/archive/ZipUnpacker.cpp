#include "archive/ZipUnpacker.h"

#include "app/AppInfo.h"
#include "app/EventPump.h"
#include "app/FileUtils.h"
#include "app/MessagePresenter.h"
#include "archive/ExtractDir.h"
#include "archive/PasswordDialog.h"
#include "archive/ZipDirectoryReader.h"
#include "archive/ZipExtractEngine.h"
#include "archive/ZipMemberSpans.h"
#include "archive/ZipMessages.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopedValueRollback>

// The hourglass while the directory is read; restored however the read ends.
class TCustomZipUnpacker::WaitCursor {
public:
    explicit WaitCursor(TCustomZipUnpacker& owner) : m_owner(owner) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        ++m_owner.m_cursorDepth;
    }
    ~WaitCursor() {
        --m_owner.m_cursorDepth;
        QApplication::restoreOverrideCursor();
    }

private:
    TCustomZipUnpacker& m_owner;
};

TCustomZipUnpacker::TCustomZipUnpacker()
    : PasswordPrompt(&TPasswordDialog::Ask), MinFreeSpace(DiskSpaceReserve) {}

void TCustomZipUnpacker::SetZipFileName(const QString& name) {
    if (m_busy)
        return;
    const QScopedValueRollback busy(m_busy, true);
    m_errCode = 0;
    m_zipFileName = name;
    // No name means no archive, which is nothing to complain about.
    if (name.isEmpty()) {
        m_directory = TZipDirectory{};
        return;
    }
    ReadDirectory();
}

void TCustomZipUnpacker::ShowMessage(int id, const QString& text, bool error) {
    if (Unattended)
        return;
    // The box gets the normal cursor; the hourglass comes back when it is closed.
    const bool hideCursor = m_cursorDepth > 0;
    if (hideCursor)
        QApplication::restoreOverrideCursor();
    const QString hint = MessageHint ? MessageHint(id) : QString();
    MessagePresenter::Current().ShowMessage(
        AppInfo::Title, hint.isEmpty() ? text : text + QStringLiteral("\n\n") + hint,
        error ? MessagePresenter::Icon::Error : MessagePresenter::Icon::Information);
    if (hideCursor)
        QApplication::setOverrideCursor(Qt::WaitCursor);
}

void TCustomZipUnpacker::Fail(int id, const QString& text) {
    m_errCode = id;
    ShowMessage(id, text.isEmpty() ? ZipMessageText(id) : text, true);
}

void TCustomZipUnpacker::ReadDirectory() {
    m_directory = TZipDirectory{};
    m_errCode = 0;
    WaitCursor cursor(*this);

    QFile file(m_zipFileName);
    if (!file.open(QIODevice::ReadOnly)) {
        // An archive that cannot be read has no end record either; the name stays set.
        ShowMessage(ZipMsg::FileOpenError, ZipMessageText(ZipMsg::FileOpenError), false);
        Fail(ZipMsg::NotValidZip);
        return;
    }
    TZipDirectoryReader reader;
    reader.OnWarning = [this](int id) { ShowMessage(id, ZipMessageText(id), false); };
    reader.OnEntry = [] { ProcessMessages(); };
    TZipDirectory directory;
    const int rc = reader.Read(file, directory);
    file.close();
    if (rc == 0) {
        m_directory = std::move(directory);
        return;
    }
    Fail(rc);
    // Without an end record the file is simply no archive; anything else means a
    // damaged directory, and the name is dropped so nothing relies on it.
    if (rc != ZipMsg::NotValidZip)
        m_zipFileName.clear();
}

int TCustomZipUnpacker::Extract() {
    if (m_busy)
        return 0;
    const QScopedValueRollback busy(m_busy, true);
    m_errCode = 0;
    m_successCnt = 0;
    m_cancelled = false;

    if (m_zipFileName.isEmpty()) {
        Fail(ZipMsg::NoZipSpecified);
        return m_errCode;
    }
    if (m_directory.Entries.isEmpty()) {
        ReadDirectory();
        if (m_directory.Entries.isEmpty()) {
            if (m_errCode == 0)
                Fail(ZipMsg::FileOpenError);
            return m_errCode;
        }
        // Reading processed events too; a Cancel among them ends the call here.
        if (m_cancelled) {
            m_errCode = ZipMsg::DllAborting;
            return m_errCode;
        }
    }

    const QString baseDir = ExtrBaseDir.isEmpty()
                                ? QString()
                                : AddBackslash(QDir::toNativeSeparators(
                                      QDir::cleanPath(QFileInfo(ExtrBaseDir).absoluteFilePath())));
    if (baseDir.isEmpty() || !QFileInfo(baseDir).isDir()) {
        Fail(ZipMsg::ExtractDirMissing,
             ZipMessageText(ZipMsg::ExtractDirMissing).replace(QLatin1String("%s"), baseDir));
        return m_errCode;
    }
    const int writeError = ExtractFiles(baseDir);
    if (writeError != 0) {
        Fail(ZipMsg::CannotWrite,
             ZipMessageText(ZipMsg::CannotWrite).replace(QLatin1String("%s"), baseDir) +
                 QStringLiteral(" <%1:%2>")
                     .arg(QString::number(writeError, 16).toUpper(),
                          TExtractDir::ErrorText(writeError)));
    }
    return m_errCode;
}

// Runs the engine over the directory; gives the system error code when the base
// directory cannot be written, 0 otherwise (other failures are recorded here).
int TCustomZipUnpacker::ExtractFiles(const QString& baseDir) {
    if (const int error = TExtractDir::ProbeWritable(baseDir))
        return error;
    TExtractDir target;
    if (const int error = target.Open(baseDir))
        return error;
    QFile archive(m_zipFileName);
    if (!archive.open(QIODevice::ReadOnly)) {
        Fail(ZipMsg::FileOpenError);
        return 0;
    }

    // The directory is copied: events processed meanwhile may not change it under the
    // engine.
    QList<TZipDirEntry> selected;
    for (const TZipDirEntry& entry : m_directory.Entries)
        if (!ExtractFilter || ExtractFilter(entry))
            selected.append(entry);
    if (!LayoutAcceptable(archive, selected, baseDir))
        return 0;

    TZipExtractEngine engine;
    engine.Password = Password;
    engine.PasswordReqCount = PasswordReqCount;
    TZipExtractEngine::Callbacks callbacks;
    callbacks.Pump = [] { ProcessMessages(); };
    callbacks.Stop = [this] { return m_cancelled; };
    callbacks.Report = [this](int code, const QString&) {
        if (code != 0)
            m_errCode = code;
    };
    if (!Unattended)
        callbacks.AskPassword = PasswordPrompt;

    int result;
    try {
        result = engine.Run(archive, selected, target, callbacks);
    } catch (...) {
        result = ZipEngineResult::Exception;
    }
    if (result >= 0) {
        m_successCnt = result;
        return 0;
    }
    switch (result) {
    case ZipEngineResult::UserCancelled:
        Fail(ZipMsg::DllUserCancelled);
        break;
    case ZipEngineResult::Aborting:
        // Only a Cancel stops the engine so; whoever asked for it wants no box.
        m_errCode = ZipMsg::DllAborting;
        break;
    case ZipEngineResult::HandlerException:
        Fail(ZipMsg::DllHandlerException);
        break;
    case ZipEngineResult::NoMemory:
        Fail(ZipMsg::DllNoMemory);
        break;
    case ZipEngineResult::InvalidStructure:
        Fail(ZipMsg::DllInvalidStructure);
        break;
    default:
        Fail(ZipMsg::DllCritical, ZipMessageText(ZipMsg::DllCritical)
                                      .replace(QLatin1String("%d"), QString::number(result)));
    }
    return 0;
}

// Refuses, before anything is written, an archive whose members share data (each copy would
// be unpacked again) or whose declared sizes would fill the disk; the engine never writes
// more than a member declares.
bool TCustomZipUnpacker::LayoutAcceptable(QIODevice& archive, const QList<TZipDirEntry>& selected,
                                          const QString& baseDir) {
    if (MembersOverlap(archive, m_directory.Entries, m_directory.CentralStart)) {
        Fail(ZipMsg::OverlappingMembers);
        return false;
    }
    uint64_t declared = 0;
    for (const TZipDirEntry& entry : selected)
        declared += entry.UncomprSize;
    if (!LeavesReserve(baseDir, declared, MinFreeSpace)) {
        Fail(ZipMsg::NoDiskSpace,
             ZipMessageText(ZipMsg::NoDiskSpace).replace(QLatin1String("%s"), baseDir));
        return false;
    }
    return true;
}
