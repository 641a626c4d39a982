#pragma once

#include "firmware/FirmwareControls.h"
#include "flashing/UpdaterView.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <memory>

class QAction;
namespace Ui {
class FormQLXUpdate;
}
class FirmwareFileOpener;
class QSessionManager;
class QTimer;
class DesktopNotice;
class DeviceNotifier;
class DeviceFlasher;
class TaskbarProgress;
class TComPort;
class TWebGet;
class TWebText;
class TZipUnpacker;
class UpdateAnnouncer;
class WebUpdateFlow;

// The updater window. It owns the controls and the components and binds their events;
// the work itself happens in the components and the flashing module.
class TFQLXUpdate : public QWidget, public UpdaterView, private FirmwareControls {
    Q_OBJECT
public:
    explicit TFQLXUpdate(QWidget* parent = nullptr);
    ~TFQLXUpdate() override;

    // UpdaterView: what the device conversation shows and reads.
    void AppendLine(const QString& line) override;
    void ExtendLastLine(const QString& suffix) override;
    void SetStatusText(int panel, const QString& text) override;
    void SetBlockText(const QString& text) override;
    void SetProgressText(const QString& text) override;
    void SetProgressMaximum(int maximum) override;
    int ProgressMaximum() const override;
    void SetProgressPosition(int position) override;
    bool AbortRaised() const override { return abortFlag_; }
    void EnterBusyState() override;
    void LeaveBusyState() override;
    QStringList PortItems() const override;
    QString PortText() const override;
    void SetPortText(const QString& text) override;
    void SetWaitCursor(bool waiting) override;
    void EnableSearchTimer() override;
    void DisableSearchTimer() override;
    void Beep() override;
    void Note(FlashNote note) override;

    bool AbortFlag() const { return abortFlag_; }
    bool CloseAllowed() const { return closeAllowed_; }
    bool PortLock() const { return portLock_; }
    bool Busy() const { return busy_; }
    QString WorkDirectory() const;

    void btnCloseClick();
    // "Update Quillmoor": the whole update, shown on the taskbar and, for a user who is
    // elsewhere when it ends, in a desktop notification.
    void btnOSClick();
    void imgDevMouseDown(Qt::MouseButton button);
    void btnWebFirmwareClick();
    // The system asks the program to end (SIGTERM and the like): a close request with the
    // emergency key's rights, so a running update is stopped first and the window closes
    // once it has unwound. Open modal boxes are cancelled first.
    void TerminationRequest();
    // The session is about to end (logout, shutdown): refused while an update runs.
    void CommitDataRequest(QSessionManager& manager);
    // The session ends now, or the program quits without the window having closed: the close
    // path runs, whatever the window was doing, before the process goes.
    void SessionEnd();
    // Whether sleep, shutdown and logout are held off now.
    bool HoldingSession() const;
    // Firmware from files: one package (.zip) or the two images (.bin). Refused with a beep
    // while an update, the web update or another load runs. True when both images are in
    // place afterwards.
    bool LoadFirmwareFiles(const QStringList& paths);
    // Files named on the command line: loaded once the window is shown, and the web update
    // does not start by itself in this run.
    void OpenAtStart(const QStringList& paths);
    // The file dialog, the open action and dropped files.
    FirmwareFileOpener& FileOpener() { return *opener_; }
    // A device-change notice (arrival 0x8000, removal 0x8004); returns the notice's result.
    int DeviceChange(int code);

    DeviceFlasher& Flasher();
    TComPort& ComPort();
    TWebText& WebTextComponent();
    TWebGet& WebGetComponent();
    TZipUnpacker& ZipComponent();
    const WebUpdateFlow& WebFlow() const;
    // Where the update is shown outside the window; tests put recorders in place of the
    // desktop's.
    void UseDesktopOutlets(std::unique_ptr<TaskbarProgress> taskbar,
                           std::unique_ptr<DesktopNotice> notice);

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildLayout();
    void BuildFirmwareMenu();
    void FormCreate();
    void FormShow();
    bool FormCloseQuery();
    void FormClose();
    void FormKeyDown(int key, Qt::KeyboardModifiers modifiers);
    // Ctrl+Alt+Shift+X, nothing more and nothing less.
    static bool IsEmergencyKey(int key, Qt::KeyboardModifiers modifiers);
    void SetCaptionIcons(bool present);
    void BindEvents();
    void RefillPorts();
    void tmSearchTimer();
    void RunWebFlow();
    // Runs action once the probe or search that uses the device has ended; a later request
    // replaces one that still waits.
    void AfterDeviceUse(std::function<void()> action);
    void RunDeferred();
    // Whether firmware files must be refused now.
    bool FileLoadBlocked() const;
    void RemoveWorkDirectory();
    // Runs the termination requests that have come in once the boxes they cancelled are gone.
    void TerminateAfterBoxes();
    void Terminate();
    void SetWebCaption(const QString& caption) override;
    void SetWebButtonEnabled(bool enabled) override;
    void SetUpdateButtonEnabled(bool enabled) override;

    // Controls, named as the layout names them.
    std::unique_ptr<Ui::FormQLXUpdate> ui_;
    QAction* actWebUpdate = nullptr;
    FirmwareFileOpener* opener_ = nullptr;
    QTimer* tmSearch = nullptr;
    QTimer* deferTimer_ = nullptr;
    QTimer* boxTimer_ = nullptr; // looks whether cancelled boxes are gone
    QList<QPointer<QWidget>> cancelledBoxes_;
    QElapsedTimer boxWait_;
    int terminationsDue_ = 0;
    std::function<void()> deferred_;
    DeviceNotifier* notifier_ = nullptr;
    // The port, the web and ZIP components, the device conversation and the flows that use
    // them, with the work folder.
    struct Components;
    std::unique_ptr<Components> c_;
    std::unique_ptr<UpdateAnnouncer> announcer_;

    bool abortFlag_ = true;
    bool closeAllowed_ = true;
    bool portLock_ = false;
    bool busy_ = false;
    bool closed_ = false;
    bool portsStale_ = false;       // a notice came while the port was in use
    bool closeAfterUpdate_ = false; // a termination request waits for the update to unwind
    bool automaticWebFlow_ = true;  // off once files were named at start
    QStringList startFiles_;
};
