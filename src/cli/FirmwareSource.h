#pragma once

#include "app/WorkFolder.h"
#include "archive/ZipUnpacker.h"
#include "firmware/FirmwareControls.h"
#include "firmware/FirmwareFileLoader.h"
#include "firmware/WebUpdateFlow.h"
#include "flashing/DeviceFlasher.h"
#include "flashing/UpdaterView.h"
#include "serial/TComPort.h"
#include "web/WebGet.h"
#include "web/WebText.h"

#include <QString>
#include <QStringList>

class ProgressPrinter;

// The firmware for every device of one run, checked once as the window checks it (a package
// or the two images from files, or the update server's package) in a private work folder
// that goes with the object.
class FirmwareSource : private FirmwareControls {
public:
    explicit FirmwareSource(ProgressPrinter& printer);
    ~FirmwareSource() override;
    FirmwareSource(const FirmwareSource&) = delete;
    FirmwareSource& operator=(const FirmwareSource&) = delete;

    // From files when given, otherwise from the server (empty: the window's). rawNames: the
    // bytes of file names that are not text. True when both images are in place; otherwise
    // Subject() and Problem() say what went wrong.
    bool Load(const QStringList& files, const QString& server,
              const QHash<QString, QByteArray>& rawNames = {});
    // Ends a running load soon (it fails).
    void Cancel();

    QString WorkDirectory() const { return flasher_.WorkDirectory(); }
    const TImageList& Images() const { return flasher_.Images(); }
    const QString& Subject() const { return subject_; }
    const QString& Problem() const { return problem_; }
    const QString& Version() const { return version_; }

private:
    // The Monitor log of the load, printed a line at a time once each line is complete.
    class LoadLog : public UpdaterView {
    public:
        explicit LoadLog(ProgressPrinter& printer) : printer_(printer) {}
        void AppendLine(const QString& line) override;
        void ExtendLastLine(const QString& suffix) override;
        void Flush();
        const QString& LastNote() const { return note_; }

        void SetStatusText(int, const QString&) override {}
        void SetBlockText(const QString&) override {}
        void SetProgressText(const QString&) override {}
        void SetProgressMaximum(int) override {}
        int ProgressMaximum() const override { return 100; }
        void SetProgressPosition(int) override {}
        bool AbortRaised() const override { return true; }
        void EnterBusyState() override {}
        void LeaveBusyState() override {}
        QStringList PortItems() const override { return {}; }
        QString PortText() const override { return {}; }
        void SetPortText(const QString&) override {}
        void SetWaitCursor(bool) override {}
        void EnableSearchTimer() override {}
        void DisableSearchTimer() override {}
        void Beep() override {}

    private:
        ProgressPrinter& printer_;
        QString pending_;
        QString note_;
    };

    void SetWebCaption(const QString& caption) override;
    void SetWebButtonEnabled(bool) override {}
    void SetUpdateButtonEnabled(bool) override {}
    bool LoadFiles(const QStringList& files, const QHash<QString, QByteArray>& rawNames);
    bool LoadFromServer(const QString& server);

    ProgressPrinter& printer_;
    WorkFolder workFolder_;
    LoadLog log_;
    TComPort unusedPort_; // the flasher here only lists the images; it never opens a port
    DeviceFlasher flasher_;
    TZipUnpacker zip_;
    TWebText webText_;
    TWebGet webGet_;
    WebUpdateFlow webFlow_;
    FirmwareFileLoader loader_;
    QString server_;  // as given
    QString subject_; // as shown: a server's password hidden
    QString problem_;
    QString version_;
};
