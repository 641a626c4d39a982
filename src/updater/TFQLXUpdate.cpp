#include "updater/TFQLXUpdate.h"

#include "app/AppInfo.h"
#include "app/ErrorReport.h"
#include "app/EventPump.h"
#include "app/FileUtils.h"
#include "app/ModalBoxes.h"
#include "app/SignalWatcher.h"
#include "app/SystemInhibitor.h"
#include "app/WorkFolder.h"
#include "archive/ZipUnpacker.h"
#include "firmware/FirmwareFileLoader.h"
#include "firmware/WebUpdateFlow.h"
#include "flashing/DeviceFlasher.h"
#include "flashing/FlashTransfer.h"
#include "serial/TComComboBox.h"
#include "serial/TComPort.h"
#include "ui_TFQLXUpdate.h"
#include "updater/Artwork.h"
#include "updater/DesktopNotice.h"
#include "updater/DeviceNotifier.h"
#include "updater/FirmwareFileOpener.h"
#include "updater/FocusRing.h"
#include "updater/GradientPanel.h"
#include "updater/MonitorMemo.h"
#include "updater/StatusPanels.h"
#include "updater/SystemBeep.h"
#include "updater/TaskbarProgress.h"
#include "updater/UpdateAnnouncer.h"
#include "updater/WindowAccessibility.h"
#include "updater/WindowPalette.h"
#include "web/UpdateServer.h"
#include "web/WebGet.h"
#include "web/WebText.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSessionManager>
#include <QTimer>
#include <QWindow>

#include <utility>

namespace {
const QString WorkFolderName = QStringLiteral("QLMUpdate");
constexpr int SearchIntervalMs = 800;
// How often a request that waits for the device's current use looks again.
constexpr int DeferCheckMs = 50;
// How often a termination looks whether the boxes it cancelled have returned, and how long
// it waits for them at most.
constexpr int BoxCheckMs = 10;
constexpr int BoxReturnLimitMs = 1000;
// What the system shows as the reason why sleep, shutdown or logout waits.
const QString HoldReason = QStringLiteral("Writing firmware into the Quillmoor");

QFont UiFont(int pixelSize, bool bold = false) {
    QFont font;
    font.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("Liberation Sans"),
                      QStringLiteral("DejaVu Sans")});
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}

// The group boxes: translucent on the gradient, with rounded corners.
const QString GroupStyle =
    QStringLiteral("QGroupBox { background: rgba(255,255,255,150); border: 1px solid #9fb0c8;"
                   " border-radius: 7px; margin-top: 7px; }"
                   "QGroupBox::title { subcontrol-origin: margin; left: 10px; padding: 0 3px;"
                   " color: #24406b; }");

} // namespace

static void InitArtwork() {
    Q_INIT_RESOURCE(resources);
}

// Destroyed in reverse order: the work folder goes first, the port last.
struct TFQLXUpdate::Components {
    explicit Components(TFQLXUpdate& window)
        : flasher(ComPort1, window), webFlow(WebText, WebGet, ZipM, flasher, window, window),
          loader(ZipM, flasher, window, window), inhibitor([&window] {
              // Only a window on the screen has a handle; asking for one would make it.
              return quintptr(window.window()->internalWinId());
          }) {}

    TComPort ComPort1;
    TWebText WebText;
    TWebGet WebGet;
    TZipUnpacker ZipM;
    DeviceFlasher flasher;
    WebUpdateFlow webFlow;
    FirmwareFileLoader loader;
    SystemInhibitor inhibitor;
    WorkFolder workFolder;
};

TFQLXUpdate::TFQLXUpdate(QWidget* parent)
    : QWidget(parent), ui_(std::make_unique<Ui::FormQLXUpdate>()),
      c_(std::make_unique<Components>(*this)) {
    InitArtwork();
    BuildLayout();
    UseDesktopOutlets(SystemTaskbarProgress(this), SystemDesktopNotice(this));
    BindEvents();
    FormCreate();
    qApp->installEventFilter(this);
}

TFQLXUpdate::~TFQLXUpdate() {
    qApp->removeEventFilter(this);
    // The port outlives the flasher by member order; no notification may reach it now.
    c_->ComPort1.OnRxChar = nullptr;
    c_->ComPort1.Close();
}

QString TFQLXUpdate::WorkDirectory() const {
    return c_->workFolder.Path();
}

bool TFQLXUpdate::HoldingSession() const {
    return c_->inhibitor.Holding();
}

DeviceFlasher& TFQLXUpdate::Flasher() {
    return c_->flasher;
}

TComPort& TFQLXUpdate::ComPort() {
    return c_->ComPort1;
}

TWebText& TFQLXUpdate::WebTextComponent() {
    return c_->WebText;
}

TWebGet& TFQLXUpdate::WebGetComponent() {
    return c_->WebGet;
}

TZipUnpacker& TFQLXUpdate::ZipComponent() {
    return c_->ZipM;
}

const WebUpdateFlow& TFQLXUpdate::WebFlow() const {
    return c_->webFlow;
}

void TFQLXUpdate::UseDesktopOutlets(std::unique_ptr<TaskbarProgress> taskbar,
                                    std::unique_ptr<DesktopNotice> notice) {
    announcer_ = std::make_unique<UpdateAnnouncer>(std::move(taskbar), std::move(notice));
}

void TFQLXUpdate::BuildLayout() {
    // The whole program speaks in the window's font, the progress dialog and the group
    // boxes' children included (a style sheet makes children take the application font).
    QApplication::setFont(UiFont(11));
    setFont(UiFont(11));
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::white);
    setPalette(pal);
    SetCaptionIcons(true);

    // The form places the controls; what depends on the font, the artwork or the program's
    // objects follows here.
    ui_->setupUi(this);
    setFixedSize(size());
    for (QLabel* label : {ui_->lblPort, ui_->lblBlock, ui_->lblTotalDev})
        label->adjustSize();
    for (QGroupBox* group : {ui_->grpWeb, ui_->grpMonitor})
        group->setStyleSheet(GroupStyle);
    ui_->imgSymbol->setPixmap(RenderArtwork(QStringLiteral(":/img/symbol.svg"), QSize(32, 32)));
    setWindowIcon(QIcon(ui_->imgSymbol->pixmap()));
    ui_->imgDev->setPixmap(RenderArtwork(QStringLiteral(":/img/device.svg"), QSize(164, 212)));
    ui_->Memo1->document()->setDocumentMargin(0);
    ui_->lblCaption->setText(AppInfo::Title);
    ui_->lblCaption->setFont(UiFont(27, true));
    ui_->lblProg->setFont(UiFont(17, true));
    // Centred where the layout puts it; a font wider than the layout's may widen it.
    QLabel* abort = ui_->lblAbort;
    const int abortWidth = std::max(248, abort->sizeHint().width());
    abort->setGeometry(83 + 124 - abortWidth / 2, 14, abortWidth, 13);
    abort->setAlignment(Qt::AlignCenter);
    abort->hide();
    ui_->btnExt->hide();
    BuildFirmwareMenu();
    new FocusRing(this);

    tmSearch = new QTimer(this);
    tmSearch->setObjectName(QStringLiteral("tmSearch"));
    tmSearch->setInterval(SearchIntervalMs);
    deferTimer_ = new QTimer(this);
    deferTimer_->setInterval(DeferCheckMs);
    boxTimer_ = new QTimer(this);
    boxTimer_->setInterval(BoxCheckMs);

    ui_->ComComboBox->SetComProperty(cpPort);
    WindowPalette::Apply(this);
    WindowAccessibility::Describe(this);
}

// Where the firmware comes from: the update server, or files the user has.
void TFQLXUpdate::BuildFirmwareMenu() {
    QPushButton* button = ui_->btnWebFirmware;
    button->setIcon(QIcon(RenderArtwork(QStringLiteral(":/img/download.svg"), QSize(16, 16))));
    // A firmware file the user already has is the other way in, for machines that cannot
    // reach the update server.
    actWebUpdate = new QAction(button->text(), this);
    opener_ = new FirmwareFileOpener(
        this, ui_->grpWeb, [this](const QStringList& paths) { LoadFirmwareFiles(paths); },
        [this] { return FileLoadBlocked(); }, [this] { Beep(); });
    auto* webMenu = new QMenu(button);
    webMenu->addAction(actWebUpdate);
    webMenu->addAction(opener_->OpenAction());
    button->setMenu(webMenu);
}

void TFQLXUpdate::BindEvents() {
    connect(actWebUpdate, &QAction::triggered, this,
            [this] { RunGuarded([this] { btnWebFirmwareClick(); }); });
    connect(ui_->btnClose, &QPushButton::clicked, this,
            [this] { RunGuarded([this] { btnCloseClick(); }); });
    connect(ui_->btnOS, &QPushButton::clicked, this,
            [this] { RunGuarded([this] { btnOSClick(); }); });
    connect(ui_->btnExt, &QPushButton::clicked, this,
            [this] { RunGuarded([this] { c_->flasher.btnExtClick(); }); });
    connect(tmSearch, &QTimer::timeout, this, [this] { RunGuarded([this] { tmSearchTimer(); }); });
    connect(deferTimer_, &QTimer::timeout, this, [this] { RunGuarded([this] { RunDeferred(); }); });
    ui_->ComComboBox->OnChange = [this](TComComboBox*) { c_->flasher.ComComboBoxChange(); };
    c_->ComPort1.OnRxChar = [this](TCustomComPort* sender, int count) {
        c_->flasher.ComPort1RxChar(sender, count);
    };
    auto* terminations = new SignalWatcher(this);
    connect(terminations, &SignalWatcher::TerminationRequested, this,
            [this] { RunGuarded([this] { TerminationRequest(); }); });
    connect(boxTimer_, &QTimer::timeout, this,
            [this] { RunGuarded([this] { TerminateAfterBoxes(); }); });
    // The session manager asks on the window thread and wants its answer before it goes on.
    connect(
        qApp, &QGuiApplication::commitDataRequest, this,
        [this](QSessionManager& manager) { RunGuarded([&] { CommitDataRequest(manager); }); },
        Qt::DirectConnection);
    connect(
        qApp, &QCoreApplication::aboutToQuit, this,
        [this] { RunGuarded([this] { SessionEnd(); }); }, Qt::DirectConnection);
    notifier_ = new DeviceNotifier(this);
    connect(notifier_, &DeviceNotifier::Notice, this,
            [this](int code) { RunGuarded([this, code] { DeviceChange(code); }); });
}

void TFQLXUpdate::FormCreate() {
    abortFlag_ = true;
    portLock_ = false;
    closeAllowed_ = true;
    // Private to the user and to this instance, so nobody can plant images or links in it
    // and no other instance empties it or writes its images there; what a killed run left in
    // it is removed. Without one, loads and downloads say the temporary folder is unusable.
    c_->flasher.SetWorkDirectory(c_->workFolder.Open(SystemTempPath(), WorkFolderName));
    c_->WebText.Data.Add().URL = UpdateServer::VersionFileUrl();
    TWebGetItem& package = c_->WebGet.Items.Add();
    package.URL = UpdateServer::PackageUrl();
    package.TargetDir = c_->workFolder.Path();
    // Formatted with the C locale so the version reads 1.01 under any locale, and the
    // process-wide locale is never touched.
    ui_->StatusBar->SetText(2, QStringLiteral("Version: ") +
                                   QLocale::c().toString(AppInfo::Version, 'f', 2));
}

void TFQLXUpdate::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!event->spontaneous())
        RunGuarded([this] { FormShow(); });
}

void TFQLXUpdate::FormShow() {
    EnableSearchTimer();
    if (!startFiles_.isEmpty()) {
        // After the window is on screen, so the load's lines and boxes have a window.
        QTimer::singleShot(0, this, [this] {
            RunGuarded([this] { LoadFirmwareFiles(std::exchange(startFiles_, {})); });
        });
    }
}

void TFQLXUpdate::AppendLine(const QString& line) {
    ui_->lstMonitor->AppendLine(line);
}

void TFQLXUpdate::ExtendLastLine(const QString& suffix) {
    ui_->lstMonitor->ExtendLastLine(suffix);
}

void TFQLXUpdate::SetStatusText(int panel, const QString& text) {
    ui_->StatusBar->SetText(panel, text);
}

void TFQLXUpdate::SetBlockText(const QString& text) {
    ui_->lblBlock->setText(text);
    WindowAccessibility::ProgressChanged(this);
}

void TFQLXUpdate::SetProgressText(const QString& text) {
    ui_->lblProg->setText(text);
    WindowAccessibility::ProgressChanged(this);
}

void TFQLXUpdate::SetProgressMaximum(int maximum) {
    ui_->prgUpload->setMaximum(maximum);
}

int TFQLXUpdate::ProgressMaximum() const {
    return ui_->prgUpload->maximum();
}

void TFQLXUpdate::SetProgressPosition(int position) {
    ui_->prgUpload->setValue(position);
    // The bar shows one image; the taskbar shows the whole update, as the percentage does.
    announcer_->Progressed(c_->flasher.Transfer().ProgressOffset() + qint64(position),
                           TFlashTransfer::TotalBytes);
}

QStringList TFQLXUpdate::PortItems() const {
    // What the selector lists, not a fresh enumeration: the port lock freezes the list, and a
    // port the selector does not hold could be found but never selected.
    QStringList items;
    for (int i = 0; i < ui_->ComComboBox->count(); ++i)
        items << ui_->ComComboBox->itemText(i);
    return items;
}

QString TFQLXUpdate::PortText() const {
    return ui_->ComComboBox->Text();
}

void TFQLXUpdate::SetPortText(const QString& text) {
    ui_->ComComboBox->SetText(text);
}

void TFQLXUpdate::SetWaitCursor(bool waiting) {
    if (waiting)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

void TFQLXUpdate::EnableSearchTimer() {
    if (!tmSearch->isActive()) // an enabled timer keeps counting from its start
        tmSearch->start();
}

void TFQLXUpdate::DisableSearchTimer() {
    tmSearch->stop();
}

void TFQLXUpdate::Beep() {
    SystemBeep();
}

void TFQLXUpdate::Note(FlashNote note) {
    announcer_->Noted(note);
}

void TFQLXUpdate::tmSearchTimer() {
    // A search between a load's or a web update's line and its outcome would take that
    // outcome for its own line; it waits until they are done (the timer keeps running).
    if (c_->webFlow.Running() || c_->loader.Running())
        return;
    if (portsStale_ && !c_->flasher.IsBusy()) {
        portsStale_ = false;
        RefillPorts();
    }
    // A flow that is already running (the search ran inside its waits) finishes by itself.
    if (c_->flasher.tmSearchTimer() && c_->flasher.Images().IsEmpty() && !c_->webFlow.Running() &&
        !c_->loader.Running() && automaticWebFlow_)
        RunWebFlow();
}

void TFQLXUpdate::RunWebFlow() {
    c_->webFlow.Run();
    if (closed_)
        RemoveWorkDirectory(); // closed during the flow, which had to unwind first
}

void TFQLXUpdate::btnWebFirmwareClick() {
    // One flow at a time, and never while an update uses the images.
    if (c_->webFlow.Running() || c_->flasher.UpdateRunning() || c_->loader.Running()) {
        Beep();
        return;
    }
    if (c_->flasher.IsBusy()) {
        // After the search or probe, unless that search's own flow has loaded images.
        AfterDeviceUse([this] {
            if (ui_->btnWebFirmware->isEnabled())
                btnWebFirmwareClick();
        });
        return;
    }
    RunWebFlow();
}

void TFQLXUpdate::AfterDeviceUse(std::function<void()> action) {
    deferred_ = std::move(action);
    deferTimer_->start();
}

void TFQLXUpdate::RunDeferred() {
    if (closed_) {
        deferTimer_->stop();
        deferred_ = nullptr;
        return;
    }
    if (c_->flasher.IsBusy())
        return;
    deferTimer_->stop();
    if (auto action = std::exchange(deferred_, nullptr))
        action();
}

bool TFQLXUpdate::FileLoadBlocked() const {
    // The images must not change under an update, nor the work directory under another load.
    return c_->flasher.UpdateRunning() || c_->webFlow.Running() || c_->loader.Running() || closed_;
}

bool TFQLXUpdate::LoadFirmwareFiles(const QStringList& paths) {
    if (FileLoadBlocked()) {
        Beep();
        return false;
    }
    if (c_->flasher.IsBusy()) {
        // A search or probe is writing its line; the load's lines come after it.
        AfterDeviceUse([this, paths] { LoadFirmwareFiles(paths); });
        return false;
    }
    const bool loaded = c_->loader.Load(paths);
    if (closed_)
        RemoveWorkDirectory(); // closed while the package was unpacked
    return loaded;
}

void TFQLXUpdate::OpenAtStart(const QStringList& paths) {
    startFiles_ = paths;
    automaticWebFlow_ = false;
}

void TFQLXUpdate::SetWebCaption(const QString& caption) {
    ui_->grpWeb->setTitle(caption);
}

void TFQLXUpdate::SetWebButtonEnabled(bool enabled) {
    ui_->btnWebFirmware->setEnabled(enabled);
}

void TFQLXUpdate::SetUpdateButtonEnabled(bool enabled) {
    ui_->btnOS->setEnabled(enabled);
}

void TFQLXUpdate::RefillPorts() {
    ui_->ComComboBox->SetComProperty(cpPort);
}

int TFQLXUpdate::DeviceChange(int code) {
    if (portLock_)
        return 0;
    if (c_->flasher.IsBusy()) {
        // The port and the list must stay as they are while the device is in use: the
        // list is refreshed and searched once that use ends.
        if (code == DeviceNotifier::DeviceArrival || code == DeviceNotifier::DeviceRemoveComplete) {
            portsStale_ = true;
            c_->flasher.RequestSearch();
        }
        return 1;
    }
    if (code == DeviceNotifier::DeviceArrival) {
        SleepMs(500);
        RefillPorts();
        SleepMs(500);
        EnableSearchTimer();
    } else if (code == DeviceNotifier::DeviceRemoveComplete) {
        RefillPorts();
        ui_->ComComboBox->SetItemIndex(ui_->ComComboBox->count() - 1);
        EnableSearchTimer();
    }
    return 1;
}

void TFQLXUpdate::SetCaptionIcons(bool present) {
    Qt::WindowFlags flags = Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
    if (present)
        flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    if (windowFlags() == flags)
        return;
    QWindow* native = windowHandle();
    if (!native) {
        setWindowFlags(flags);
        return;
    }
    // A window on the screen takes the new flags as it is. setWindowFlags would hide and show
    // it: hiding drops the widgets' active window and focus, and under a window manager the
    // focus comes back at once, too soon for Qt to notice it was gone, so the widgets never
    // got them back (no focused control, and the emergency key went unheard).
    overrideWindowFlags(flags);
    native->setFlags(flags);
}

void TFQLXUpdate::EnterBusyState() {
    busy_ = true;
    ui_->lblAbort->show();
    closeAllowed_ = false;
    abortFlag_ = false;
    ui_->btnClose->setEnabled(false);
    ui_->ComComboBox->setEnabled(false);
    SetCaptionIcons(false);
    ui_->btnOS->setEnabled(false);
    c_->inhibitor.Hold(HoldReason);
    announcer_->Started();
}

void TFQLXUpdate::LeaveBusyState() {
    SetProgressText(QStringLiteral("0 %"));
    ui_->lblAbort->hide();
    closeAllowed_ = true;
    abortFlag_ = true;
    ui_->btnClose->setEnabled(true);
    ui_->ComComboBox->setEnabled(true); // whatever the port lock: the lock only guards notices
    SetCaptionIcons(true);
    if (!c_->flasher.Images().IsEmpty())
        ui_->btnOS->setEnabled(true);
    busy_ = false;
    c_->inhibitor.Release();
    if (closeAfterUpdate_) {
        closeAfterUpdate_ = false;
        // Once the update's handler has returned, not from inside it.
        QMetaObject::invokeMethod(
            this, [this] { close(); }, Qt::QueuedConnection);
    }
}

void TFQLXUpdate::btnCloseClick() {
    close();
}

void TFQLXUpdate::btnOSClick() {
    // The end is announced before an error's box, which waits for the user to come back.
    bool updated = false;
    try {
        updated = c_->flasher.btnOSClick();
    } catch (const std::exception& error) {
        announcer_->Ended(false, QString::fromUtf8(error.what()), isActiveWindow());
        throw;
    } catch (...) {
        announcer_->Ended(false, QStringLiteral("Unknown error"), isActiveWindow());
        throw;
    }
    announcer_->Ended(updated, QString(), isActiveWindow());
}

bool TFQLXUpdate::FormCloseQuery() {
    if (!closeAllowed_)
        return false;
    if (!abortFlag_) {
        // The first allowed request during an update stops it instead of closing.
        abortFlag_ = true;
        announcer_->StopAsked();
        return false;
    }
    return true;
}

void TFQLXUpdate::closeEvent(QCloseEvent* event) {
    bool canClose = false;
    RunGuarded([&] { canClose = FormCloseQuery(); });
    if (!canClose) {
        // A close that does nothing would look like a hung window.
        if (busy_)
            SetStatusText(1, QStringLiteral("Update running: Ctrl+Alt+Shift+X stops it"));
        event->ignore();
        return;
    }
    RunGuarded([this] { FormClose(); });
    event->accept();
}

void TFQLXUpdate::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        RunGuarded([this] { announcer_->WindowActivated(); });
}

void TFQLXUpdate::FormClose() {
    if (closed_)
        return;
    closed_ = true;
    tmSearch->stop();
    deferTimer_->stop();
    deferred_ = nullptr;
    c_->flasher.ClosePortIfOpen();
    // A running flow or load would go on writing into the folder: it is stopped, and the
    // folder is cleared once it has unwound.
    if (c_->webFlow.Running() || c_->loader.Running()) {
        c_->webFlow.Cancel();
        c_->loader.Cancel();
    } else
        RemoveWorkDirectory();
}

void TFQLXUpdate::RemoveWorkDirectory() {
    c_->workFolder.Remove();
}

void TFQLXUpdate::TerminationRequest() {
    ++terminationsDue_;
    TerminateAfterBoxes();
}

void TFQLXUpdate::TerminateAfterBoxes() {
    // A modal box holds whatever opened it in its own event loop until it is answered: it is
    // cancelled, and the request waits until its exec() has returned (the box is gone), so
    // that what opened it unwinds before the window closes.
    cancelledBoxes_ << ModalBoxes::CancelAll();
    cancelledBoxes_.removeAll(nullptr);
    if (!cancelledBoxes_.isEmpty()) {
        if (!boxTimer_->isActive()) {
            boxWait_.start();
            boxTimer_->start();
            return;
        }
        if (!boxWait_.hasExpired(BoxReturnLimitMs))
            return;
    }
    boxTimer_->stop();
    cancelledBoxes_.clear();
    for (; terminationsDue_ > 0; --terminationsDue_)
        Terminate();
}

void TFQLXUpdate::Terminate() {
    closeAllowed_ = true;
    if (busy_ && !abortFlag_)
        closeAfterUpdate_ = true;
    close();
}

void TFQLXUpdate::CommitDataRequest(QSessionManager& manager) {
    // A device cut off in the middle of an image stays in its boot loader. Only a manager
    // that lets the program interact may be told no; the lock holds the rest off.
    if (busy_ && manager.allowsInteraction()) {
        manager.cancel();
        manager.release();
    }
}

void TFQLXUpdate::SessionEnd() {
    if (closed_)
        return;
    ModalBoxes::CancelAll();
    closeAllowed_ = true;
    abortFlag_ = true;
    close();
    // Nothing unwinds after this on a session's end: the folder goes now, even under a flow.
    RemoveWorkDirectory();
}

bool TFQLXUpdate::eventFilter(QObject* watched, QEvent* event) {
    // A quick second press arrives as a double-click; it is a press all the same.
    if (watched == ui_->imgDev && (event->type() == QEvent::MouseButtonPress ||
                                   event->type() == QEvent::MouseButtonDblClick)) {
        const auto button = static_cast<QMouseEvent*>(event)->button();
        RunGuarded([&] { imgDevMouseDown(button); });
    }
    if (event->type() == QEvent::KeyPress && watched->isWidgetType()) {
        // Key preview: the window sees the key once, as its first receiver gets it. Keys go
        // to the window's own focused control, also while the application knows no focus
        // widget (its idea of the active window can lag behind the system's).
        QWidget* first = focusWidget();
        if (!first)
            first = this;
        auto* widget = static_cast<QWidget*>(watched);
        const auto* key = static_cast<QKeyEvent*>(event);
        // A held key repeats; one press must never count as the second one that closes.
        if (widget == first && widget->window() == this && !key->isAutoRepeat()) {
            RunGuarded([&] { FormKeyDown(key->key(), key->modifiers()); });
        }
        // Windows takes Ctrl+Alt for AltGr and gives the emergency key the text "X": it must
        // not be typed into the Monitor log or any other text that has the focus.
        if (widget->window() == this && IsEmergencyKey(key->key(), key->modifiers()))
            return true;
    }
    return QWidget::eventFilter(watched, event);
}

void TFQLXUpdate::imgDevMouseDown(Qt::MouseButton button) {
    if (!ui_->btnClose->isEnabled())
        return; // busy
    if (button == Qt::RightButton)
        portLock_ = !portLock_;
    ui_->ComComboBox->setEnabled(!portLock_);
    ui_->lblPort->setEnabled(!portLock_);
    AppendLine(portLock_ ? QStringLiteral("- LOCKING DEVICE -")
                         : QStringLiteral("- UNLOCKING DEVICE -"));
}

bool TFQLXUpdate::IsEmergencyKey(int key, Qt::KeyboardModifiers modifiers) {
    const auto exact = Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier;
    return key == Qt::Key_X && (modifiers & ~Qt::KeypadModifier) == exact;
}

void TFQLXUpdate::FormKeyDown(int key, Qt::KeyboardModifiers modifiers) {
    if (!IsEmergencyKey(key, modifiers))
        return;
    SystemBeep();
    closeAllowed_ = true;
    close();
}
