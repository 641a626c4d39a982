#pragma once

#include "archive/ZipDirEntry.h"
#include "archive/ZipPassword.h"

#include <QIODevice>
#include <QString>
#include <cstdint>
#include <functional>

// The ZIP archive component: reads an archive's central directory when its name is
// assigned, and unpacks its members into one directory without folder names. Archives whose
// members overlap, or that would not fit on the disk, are refused before anything is
// written. It shows its own message boxes and processes pending events while it works; a
// call that arrives meanwhile (from those events) does nothing, except Cancel.
class TCustomZipUnpacker {
public:
    TCustomZipUnpacker();
    virtual ~TCustomZipUnpacker() = default;
    TCustomZipUnpacker(const TCustomZipUnpacker&) = delete;
    TCustomZipUnpacker& operator=(const TCustomZipUnpacker&) = delete;

    // Settings.
    QString ExtrBaseDir;               // receives the members; must exist and be writable
    bool Unattended = false;           // true: no message boxes and no password requests
    QString Password;                  // tried on encrypted members before anyone is asked
    int PasswordReqCount = 1;          // password requests per member, at most 15
    TZipPasswordPrompt PasswordPrompt; // the password dialog unless replaced
    // Members Extract unpacks; empty means every member.
    std::function<bool(const TZipDirEntry&)> ExtractFilter;
    // A paragraph the program adds below one of the component's messages (by its id): what
    // the file should have been, say. Empty: the message alone.
    std::function<QString(int id)> MessageHint;
    // What unpacking must leave free on the base directory's disk; an archive whose selected
    // members' declared sizes do not fit beside it is refused.
    int64_t MinFreeSpace;

    // Assigning the name while idle reads the archive's directory.
    void SetZipFileName(const QString& name);
    const QString& ZipFileName() const { return m_zipFileName; }
    // Unpacks all members; gives the last error code of the call, 0 when none.
    int Extract();
    // Ends a running Extract soon, for an event handled while it works (the window closing):
    // no further member is started, the one being written is removed, files already complete
    // stay. That Extract gives ZipMsg::DllAborting and shows no box for it. Each Extract
    // starts afresh, so a call while idle changes nothing.
    void Cancel() { m_cancelled = true; }

    // Results.
    bool Busy() const { return m_busy; }
    int ErrCode() const { return m_errCode; }
    int Count() const { return int(m_directory.Entries.size()); }
    const QList<TZipDirEntry>& DirEntries() const { return m_directory.Entries; }
    const QByteArray& ZipComment() const { return m_directory.ZipComment; }
    bool IsSpanned() const { return m_directory.Spanned; }
    int SuccessCnt() const { return m_successCnt; }

private:
    class WaitCursor;

    void ReadDirectory();
    int ExtractFiles(const QString& baseDir);
    bool LayoutAcceptable(QIODevice& archive, const QList<TZipDirEntry>& selected,
                          const QString& baseDir);
    void Fail(int id, const QString& text = {});
    void ShowMessage(int id, const QString& text, bool error);

    QString m_zipFileName;
    TZipDirectory m_directory;
    int m_errCode = 0;
    int m_successCnt = 0;
    bool m_busy = false;
    bool m_cancelled = false;
    int m_cursorDepth = 0;
};

// The component as the window owns it.
class TZipUnpacker : public TCustomZipUnpacker {};
