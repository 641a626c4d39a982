#include "DesktopRecorders.h"
#include "app/AppInfo.h"
#include "app/ErrorReport.h"
#include "flashing/DeviceFlasher.h"
#include "serial/TComComboBox.h"
#include "serial/TComPort.h"
#include "support/ClaimHolder.h"
#include "support/RecordingPresenter.h"
#include "support/SimDevice.h"
#include "support/TestHttpServer.h"
#include "support/UpdateLog.h"
#include "support/ZipFixture.h"
#include "updater/MonitorMemo.h"
#include "updater/TFQLXUpdate.h"
#include "web/WebGet.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <memory>

namespace {
const QString VersionPath = QStringLiteral("/~plinth-works/QLM/Firmware.dat");
const QString PackagePath = QStringLiteral("/~plinth-works/QLM/QLMUpdate.zip");
const QString Search = QStringLiteral("-> AUTOSEARCH FOR QUILLMOOR DEVICE");
const QStringList WebLines{"-> DOWNLOAD FIRMWARE FROM SERVER  [OK]",
                           "-> CHECKING FIRMWARE FILE  [OK] -> VERS.: 2.17"};
const QStringList& UpdateLines = CompleteUpdateLog;
const auto EmergencyKeys = Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier;
constexpr int ReadyWithinMs = 10000;

// The whole window against the simulated device (quick, unpaced) and a local update server
// that serves a real package. Its temporary folder is private, so its work directory is too.
class WindowUpdateTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(temp.isValid() && simOut.isValid() && links.isValid());
        savedTemp = qgetenv("TMPDIR");
        qputenv("TMPDIR", temp.path().toLocal8Bit());
        ASSERT_TRUE(server.Start());
        server.Route(VersionPath, {200, "Quillmoor firmware\n2.17\n"});
        const QByteArray zip =
            MakeZip({{"firmware/QLM_OS.bin", osImage}, {"QLM_EXT.bin", extImage}});
        ASSERT_FALSE(zip.isEmpty());
        server.Route(PackagePath, {200, zip});
        qputenv("QLM_UPDATE_SERVER", server.BaseUrl().toUtf8());
        TComSelect::SetPortSource([this](QStringList& list) { list = ports; });
        TestPresenter().boxes.clear();
    }
    void TearDown() override {
        if (window)
            window->close();
        window.reset();
        TComSelect::SetPortSource(nullptr);
        qputenv("QLM_UPDATE_SERVER", "http://127.0.0.1:9");
        qputenv("TMPDIR", savedTemp);
    }

    // Starts the device and lists its port; opens the window (not shown yet).
    void Start(const QStringList& simArgs = {}) {
        sim = std::make_unique<SimDevice>(TestPortName(links, "dev"),
                                          QStringList{"--no-pace", "--out", simOut.path(),
                                                      "--restart-delay", "100", "--nak-interval",
                                                      "100"} +
                                              simArgs);
        ASSERT_TRUE(sim->Started()) << sim->ErrorOutput().toStdString();
        ports = {sim->Path()};
        OpenWindow();
    }
    void OpenWindow() {
        window = std::make_unique<TFQLXUpdate>();
        window->WebGetComponent().DialogSettings.ShowDialog = false;
    }
    // Shows the window and fetches the firmware with the download button's menu, so that
    // the update button comes on without waiting for the automatic search.
    void ShowWithFirmware() {
        window->show();
        window->activateWindow();
        auto* button = Find<QPushButton>("btnWebFirmware");
        // The button opens its menu; the user picks the web update from it.
        QTimer::singleShot(0, window.get(), [button] {
            QMenu* menu = button->menu();
            ASSERT_NE(menu, nullptr);
            menu->setActiveAction(menu->actions().value(0));
            QTest::keyClick(menu, Qt::Key_Return);
        });
        QTest::mouseClick(button, Qt::LeftButton);
        ASSERT_TRUE(Find<QPushButton>("btnOS")->isEnabled()) << Log().join('\n').toStdString();
    }
    void ClickUpdate() { QTest::mouseClick(Find<QPushButton>("btnOS"), Qt::LeftButton); }

    template <typename T> T* Find(const char* name) {
        auto* found = window->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    QStringList Log() { return Find<MonitorMemo>("lstMonitor")->Lines(); }
    QString Panel(int i) {
        return Find<QLabel>(qPrintable(QStringLiteral("StatusPanel%1").arg(i)))->text();
    }
    QString PortText() { return Find<TComComboBox>("ComComboBox")->Text(); }
    // As the platform delivers it: to the window, which hands it to its focused control.
    void PressEmergencyKey() { QTest::keyClick(window->windowHandle(), Qt::Key_X, EmergencyKeys); }
    QByteArray Received(const QString& name) const {
        QFile file(simOut.filePath(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    void ExpectIdle() {
        EXPECT_FALSE(window->Busy());
        EXPECT_FALSE(Find<QLabel>("lblAbort")->isVisible());
        EXPECT_TRUE(Find<QPushButton>("btnClose")->isEnabled());
        EXPECT_TRUE(Find<QWidget>("ComComboBox")->isEnabled());
        EXPECT_TRUE(window->AbortFlag());
        EXPECT_TRUE(window->CloseAllowed());
        EXPECT_TRUE(window->windowFlags() & Qt::WindowCloseButtonHint);
        EXPECT_TRUE(window->windowFlags() & Qt::WindowSystemMenuHint);
        EXPECT_TRUE(window->isVisible());
        EXPECT_EQ(Find<QLabel>("lblProg")->text(), "0 %");
        EXPECT_TRUE(Find<QPushButton>("btnOS")->isEnabled());
        EXPECT_FALSE(window->ComPort().Connected());
        EXPECT_EQ(window->Flasher().Activity(), DeviceActivity::Idle);
    }

    QTemporaryDir temp;
    QTemporaryDir simOut;
    QTemporaryDir links;
    QByteArray savedTemp;
    const QByteArray osImage = TestBytes(491516, 1);
    const QByteArray extImage = TestBytes(98304, 2);
    TestHttpServer server;
    QStringList ports;
    std::unique_ptr<SimDevice> sim;
    std::unique_ptr<TFQLXUpdate> window;
};
} // namespace

TEST_F(WindowUpdateTest, FindsTheDeviceAfterShowThenLoadsTheWebUpdateWithoutAClick) {
    Start();
    // A port that never answers comes first in the list and is selected at start.
    SilentPty quiet(TestPortName(links, "quiet"));
    ports = {quiet.Path(), sim->Path()};
    OpenWindow();
    ASSERT_EQ(PortText(), quiet.Path());

    window->show();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return Find<QPushButton>("btnOS")->isEnabled(); }, ReadyWithinMs))
        << Log().join('\n').toStdString();
    EXPECT_EQ(PortText(), sim->Path());
    EXPECT_EQ(Log(), QStringList{Search + "  [OK]"} + WebLines);
    EXPECT_EQ(Find<QGroupBox>("grpWeb")->title(), "Firmware Webcheck (Vers.: 2.17)");
    EXPECT_FALSE(Find<QPushButton>("btnWebFirmware")->isEnabled());
    EXPECT_EQ(server.Hits(PackagePath), 1);
    EXPECT_TRUE(TestPresenter().boxes.isEmpty());
}

TEST_F(WindowUpdateTest, UpdateButtonWritesBothImagesAndKeepsEverythingElseOffMeanwhile) {
    Start();
    window->show();
    window->activateWindow();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return Find<QPushButton>("btnOS")->isEnabled(); }, ReadyWithinMs));
    const QStringList before = Log();
    SilentPty quiet(TestPortName(links, "quiet"));
    const QString otherPackage = links.filePath("other.zip");
    {
        QFile file(otherPackage);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(MakeZip({{"OS.bin", extImage + osImage.left(393212)}, {"EXT.bin", extImage}}));
    }

    // In the middle of the OS image everything that could disturb the transfer arrives as
    // events handled inside its waits.
    struct During {
        bool ran = false;
        bool busy = false;
        bool webButtonEnabled = true;
        int arrivalResult = 0;
        int removalResult = 0;
        QStringList selectorItems;
        QString selectorText;
        bool timerActive = true;
        bool portLock = true;
        bool closeAccepted = true;
        QString statusAfterClose;
        bool fileLoaded = true;
        bool visible = false;
        bool abortFlag = true;
        QStringList log;
    } during;
    auto* progress = Find<QProgressBar>("prgUpload");
    auto* selector = Find<TComComboBox>("ComComboBox");
    auto* timer = Find<QTimer>("tmSearch");
    QObject::connect(progress, &QProgressBar::valueChanged, window.get(), [&](int value) {
        if (during.ran || value != 50 * 1024 || progress->maximum() != 480 * 1024)
            return;
        during.ran = true;
        QTimer::singleShot(0, window.get(), [&] {
            during.busy = window->Busy();
            // The download button is off after a successful web update; its handler refuses
            // as well, should it ever be reached.
            during.webButtonEnabled = Find<QPushButton>("btnWebFirmware")->isEnabled();
            QTest::mouseClick(Find<QPushButton>("btnWebFirmware"), Qt::LeftButton);
            window->btnWebFirmwareClick();
            // Nor may other firmware be loaded while this one is written.
            during.fileLoaded = window->LoadFirmwareFiles({otherPackage});
            // A second port appears and a device is plugged in and out.
            ports = {sim->Path(), quiet.Path()};
            during.arrivalResult = window->DeviceChange(0x8000);
            during.removalResult = window->DeviceChange(0x8004);
            for (int i = 0; i < selector->count(); ++i)
                during.selectorItems << selector->itemText(i);
            during.selectorText = selector->Text();
            during.timerActive = timer->isActive();
            QTest::mouseClick(Find<QLabel>("imgDev"), Qt::RightButton);
            during.portLock = window->PortLock();
            during.closeAccepted = window->close();
            during.statusAfterClose = Panel(1);
            window->btnCloseClick();
            during.visible = window->isVisible();
            during.abortFlag = window->AbortFlag();
            during.log = Log();
        });
    });
    ClickUpdate();

    EXPECT_TRUE(TestPresenter().boxes.isEmpty());
    EXPECT_EQ(Received("os.bin"), osImage + QByteArray(4, '\x1A'));
    EXPECT_EQ(Received("ext.bin"), extImage);
    EXPECT_EQ(Log(), before + UpdateLines);
    EXPECT_EQ(Panel(0), "ACK");
    EXPECT_EQ(Panel(1), "Update proceeded!");
    EXPECT_EQ(Find<QLabel>("lblBlock")->text(), "Block: 96");
    EXPECT_EQ(progress->value(), 0);
    ExpectIdle();

    ASSERT_TRUE(during.ran);
    EXPECT_TRUE(during.busy);
    EXPECT_FALSE(during.webButtonEnabled);
    EXPECT_EQ(server.Hits(VersionPath), 1);
    EXPECT_EQ(server.Hits(PackagePath), 1);
    EXPECT_EQ(during.arrivalResult, 1);
    EXPECT_EQ(during.removalResult, 1);
    EXPECT_EQ(during.selectorItems, QStringList{sim->Path()});
    EXPECT_EQ(during.selectorText, sim->Path());
    EXPECT_FALSE(during.timerActive);
    EXPECT_FALSE(during.portLock);
    EXPECT_FALSE(during.closeAccepted);
    EXPECT_EQ(during.statusAfterClose, "Update running: Ctrl+Alt+Shift+X stops it");
    EXPECT_FALSE(during.fileLoaded);
    EXPECT_TRUE(during.visible);
    EXPECT_FALSE(during.abortFlag);
    EXPECT_EQ(during.log, before + UpdateLines.mid(0, 3));
    EXPECT_FALSE(window->PortLock());

    // The notices were kept: once the update is over the list is refreshed and searched.
    ASSERT_TRUE(QTest::qWaitFor([&] { return Log().size() > before.size() + UpdateLines.size(); },
                                ReadyWithinMs));
    EXPECT_EQ(Log().mid(before.size() + UpdateLines.size()), QStringList{Search + "  [OK]"});
    EXPECT_EQ(selector->count(), 2);
    EXPECT_EQ(PortText(), sim->Path());
    EXPECT_TRUE(TestPresenter().boxes.isEmpty());
}

TEST_F(WindowUpdateTest, EmergencyKeyWhileTheBootLoaderIsSilentAbortsThenCloses) {
    Start({"--silent-boot"});
    ShowWithFirmware();
    const int linesBefore = static_cast<int>(Log().size());
    // The key goes in once the window waits for the boot loader, which never answers.
    bool pressed = false;
    bool visibleAfterFirst = false;
    QTimer watch;
    watch.setInterval(10);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (pressed || Panel(1) != "Waiting for ACK...")
            return;
        pressed = true;
        PressEmergencyKey();
        visibleAfterFirst = window->isVisible();
    });
    watch.start();
    ClickUpdate();
    watch.stop();

    ASSERT_TRUE(pressed);
    EXPECT_TRUE(visibleAfterFirst);
    EXPECT_EQ(Log().mid(linesBefore),
              (QStringList{"- FLASHING OS FLASH -", "-> LOADING FIRMWARE FILE: QLM_OS.bin  [OK]",
                           "-> STARTING OS FLASH UPDATE", "- ABORTED -",
                           "[NOTE: THE QUILLMOOR MAY STILL BE IN ITS BOOT LOADER: KEEP IT "
                           "CONNECTED; IT RETURNS BY ITSELF AFTER ABOUT 30 S (OR SWITCH IT OFF "
                           "AND ON); THEN PRESS \"UPDATE QUILLMOOR\" AGAIN]"}));
    EXPECT_EQ(Panel(1), "Aborted");
    EXPECT_TRUE(Received("os.bin").isEmpty());
    EXPECT_TRUE(TestPresenter().boxes.isEmpty());
    ExpectIdle();

    const QString work = window->WorkDirectory();
    PressEmergencyKey();
    EXPECT_FALSE(window->isVisible());
    EXPECT_FALSE(QFileInfo::exists(work));
}

TEST_F(WindowUpdateTest, PortThatVanishesMidTransferReachesTheErrorReportAndIdle) {
    Start({"--hangup-at", "10"});
    const QString path = sim->Path();
    ShowWithFirmware();
    ClickUpdate();

    ASSERT_EQ(TestPresenter().boxes.size(), 1);
    const auto& box = TestPresenter().boxes[0];
    EXPECT_EQ(box.title, AppInfo::Title);
    EXPECT_EQ(box.icon, MessagePresenter::Icon::Error);
    EXPECT_TRUE(box.text.startsWith("COM Port Error: ")) << box.text.toStdString();
    EXPECT_TRUE(box.text.endsWith(" on " + path + ".")) << box.text.toStdString();
    EXPECT_EQ(Log().last(), "-> STARTING OS FLASH UPDATE  [OK]");
    // The device vanished before it acknowledged the last block it took.
    EXPECT_EQ(Find<QLabel>("lblBlock")->text(), "Block: 10");
    ExpectIdle();
}

// Another program on the same device, here one that holds the device's claim as a running
// quillmoor-flash does: while it holds it, "Update Quillmoor" says the port is in use and
// touches nothing; killed, it holds nothing, and the update goes through. During that update
// the window holds the device in turn, also while the port is closed for the restart wait.
TEST_F(WindowUpdateTest, PortClaimedByAnotherProgramIsInUseUntilThatProgramIsKilled) {
    Start();
    window->show();
    window->activateWindow();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return Find<QPushButton>("btnOS")->isEnabled(); }, ReadyWithinMs));
    ASSERT_FALSE(Find<QTimer>("tmSearch")->isActive());
    const QStringList before = Log();
    TestPresenter().boxes.clear();

    ClaimHolder holder;
    ASSERT_EQ(holder.Start(sim->Path()), "claimed");
    ClickUpdate();
    ASSERT_EQ(TestPresenter().boxes.size(), 1);
    const auto& box = TestPresenter().boxes[0];
    EXPECT_EQ(box.icon, MessagePresenter::Icon::Error);
    EXPECT_EQ(box.text,
              "COM Port Error: the port is in use by another program: " + sim->Path() + ".");
    EXPECT_EQ(Log(), before);
    EXPECT_EQ(Received("os.bin"), QByteArray());
    ExpectIdle();

    holder.Kill();
    TestPresenter().boxes.clear();
    // The restart wait between the images holds the window thread; the other program tries
    // as it begins, with the port closed.
    QString duringWait;
    auto* memo = Find<MonitorMemo>("lstMonitor");
    const auto watch = QObject::connect(memo, &QPlainTextEdit::textChanged, [&] {
        if (!duringWait.isEmpty() ||
            memo->Lines().value(memo->Lines().size() - 1) != "-> WAITING 5 SECONDS FOR BOOT DEVICE")
            return;
        ClaimHolder late;
        duringWait = late.Start(sim->Path());
        if (window->ComPort().Connected())
            duringWait += " (the port was open)";
    });
    ClickUpdate();
    QObject::disconnect(watch);
    EXPECT_TRUE(TestPresenter().boxes.isEmpty());
    EXPECT_EQ(duringWait, "in use");
    EXPECT_EQ(Log(), before + UpdateLines);
    EXPECT_EQ(Received("os.bin"), osImage + QByteArray(4, '\x1A'));
    EXPECT_EQ(Received("ext.bin"), extImage);
    ExpectIdle();
}

// Switching the caption icons is no new show of the form and must not start a search of its
// own.
TEST_F(WindowUpdateTest, BusyStateSwitchesDoNotStartTheSearchTimer) {
    OpenWindow();
    window->show();
    auto* timer = Find<QTimer>("tmSearch");
    ASSERT_TRUE(timer->isActive());
    timer->stop();
    window->EnterBusyState();
    EXPECT_FALSE(timer->isActive());
    window->LeaveBusyState();
    EXPECT_FALSE(timer->isActive());
    EXPECT_TRUE(window->isVisible());
}

// The search probes what the selector lists: a device that appears while the port lock
// freezes the list is not probed, and the search cannot report a port it cannot select.
TEST_F(WindowUpdateTest, SearchProbesOnlyTheSelectorsPorts) {
    Start();
    SilentPty quiet(TestPortName(links, "quiet"));
    ports = {quiet.Path()};
    OpenWindow();
    window->show();
    QTest::mouseClick(Find<QLabel>("imgDev"), Qt::RightButton);
    ports = {quiet.Path(), sim->Path()};
    EXPECT_EQ(window->DeviceChange(0x8000), 0);

    ASSERT_TRUE(QTest::qWaitFor([&] { return Log().size() > 1; }, ReadyWithinMs));
    EXPECT_EQ(Log()[1], Search + "  [NOT FOUND]");
    EXPECT_EQ(PortText(), quiet.Path());
    EXPECT_TRUE(TestPresenter().boxes.isEmpty());
}

// A port that cannot be opened ends the search with its box, and the search's line ends as
// well instead of staying open.
TEST_F(WindowUpdateTest, SearchThatCannotOpenAPortEndsItsLine) {
    Start();
    ports = {QStringLiteral("/dev/null")};
    OpenWindow();
    window->show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !TestPresenter().boxes.isEmpty(); }, ReadyWithinMs));
    // The port's own open error, in the system's words ("not a terminal" on Unix), as the
    // error report shows it.
    QString openError;
    try {
        TComPort probe;
        probe.SetPort(QStringLiteral("/dev/null"));
        probe.Open();
    } catch (const EComPortExt& error) {
        openError = error.Message();
    }
    ASSERT_TRUE(openError.startsWith("COM Port Error: Unable to open com port on /dev/null: "))
        << openError.toStdString();
    EXPECT_EQ(TestPresenter().boxes[0].text.toStdString(),
              ErrorReportText(openError).toStdString());
    EXPECT_TRUE(Log().contains(Search + "  [NOT FOUND]")) << Log().join('\n').toStdString();
}

// The update as the desktop shows it outside the window, for a user who has another window in
// front or this one.
struct OutsideCase {
    const char* label;
    QStringList simArgs;
    bool inFront;
    const char* summary; // nullptr: no notification
    const char* body;    // nullptr: the error box's text
    const char* taskbarEnd;
    int lastPercent; // of the whole update, where it ended
};

class WindowOutsideTest : public WindowUpdateTest,
                          public ::testing::WithParamInterface<OutsideCase> {};

TEST_P(WindowOutsideTest, TaskbarFollowsTheUpdateAndItsEndReachesAUserElsewhere) {
    const OutsideCase& c = GetParam();
    Start(c.simArgs);
    auto desktop = std::make_shared<DesktopLog>();
    window->UseDesktopOutlets(std::make_unique<RecordingTaskbar>(desktop),
                              std::make_unique<RecordingNotice>(desktop));
    ShowWithFirmware();
    // Another program's window comes to the front; the user may come back before the click.
    QWidget elsewhere;
    elsewhere.resize(200, 100);
    elsewhere.show();
    elsewhere.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&elsewhere));
    if (c.inFront) {
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitFor([&] { return window->isActiveWindow(); }));
    }
    ASSERT_EQ(window->isActiveWindow(), c.inFront);
    ASSERT_TRUE(desktop->taskbar.isEmpty()); // the search and the download are no update
    ClickUpdate();

    // From 0, upwards only, to where the update ended; then its end.
    ASSERT_GE(desktop->taskbar.size(), 2);
    EXPECT_EQ(desktop->taskbar.first(), "0");
    EXPECT_EQ(desktop->taskbar.last(), c.taskbarEnd);
    int reached = -1;
    for (const QString& step : desktop->taskbar.mid(0, desktop->taskbar.size() - 1)) {
        bool number = false;
        const int percent = step.toInt(&number);
        ASSERT_TRUE(number) << step.toStdString();
        EXPECT_GT(percent, reached);
        reached = percent;
    }
    EXPECT_EQ(reached, c.lastPercent);
    if (!c.summary) {
        EXPECT_TRUE(desktop->notices.isEmpty());
    } else {
        ASSERT_EQ(desktop->notices.size(), 1);
        EXPECT_EQ(desktop->notices[0].summary, c.summary);
        EXPECT_EQ(desktop->notices[0].failure, c.taskbarEnd == QStringLiteral("failure"));
        if (c.body) {
            EXPECT_EQ(desktop->notices[0].body, c.body);
            EXPECT_TRUE(TestPresenter().boxes.isEmpty());
        } else {
            ASSERT_EQ(TestPresenter().boxes.size(), 1);
            EXPECT_EQ(desktop->notices[0].body, TestPresenter().boxes[0].text);
            EXPECT_TRUE(desktop->notices[0].body.startsWith("COM Port Error: "));
        }
    }
    // The window ends as it always has.
    EXPECT_EQ(Find<QLabel>("lblProg")->text(), "0 %");
    ExpectIdle();

    // Back in the window, the user needs neither the notification nor the red entry.
    const int told = static_cast<int>(desktop->taskbar.size());
    elsewhere.hide();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->isActiveWindow(); }));
    EXPECT_EQ(desktop->withdrawn, c.summary ? 1 : 0);
    EXPECT_EQ(desktop->taskbar.mid(told),
              c.taskbarEnd == QStringLiteral("failure") ? QStringList{"clear"} : QStringList{});
}

INSTANTIATE_TEST_SUITE_P(
    Endings, WindowOutsideTest,
    ::testing::Values(
        OutsideCase{"UpdatedElsewhere",
                    {},
                    false,
                    "Quillmoor updated",
                    "Both firmware images are in the device.",
                    "clear",
                    100},
        OutsideCase{"UpdatedInFront", {}, true, nullptr, nullptr, "clear", 100},
        // The device cancels the external image's block 20: (491516 + 19 * 1024) bytes of
        // 589824 were through.
        OutsideCase{"CancelledElsewhere",
                    {"--fault-image", "ext", "--can-block", "20"},
                    false,
                    "Quillmoor update failed",
                    "The device cancelled the transfer.",
                    "failure",
                    87},
        // The port goes with the OS image's block 10; the error's box follows the notification.
        OutsideCase{"PortLostElsewhere",
                    {"--hangup-at", "10"},
                    false,
                    "Quillmoor update failed",
                    nullptr,
                    "failure",
                    2}),
    [](const auto& info) { return std::string(info.param.label); });
