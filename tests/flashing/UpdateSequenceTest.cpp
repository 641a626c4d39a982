#include "FlashFixture.h"
#include "app/ErrorReport.h"
#include "support/UpdateLog.h"

#include <QFileInfo>
#include <QTimer>
#include <functional>
#include <thread>
#include <utility>

namespace {

const QStringList& CompleteLog = CompleteUpdateLog;

class UpdateSequenceTest : public FlashFixture {
protected:
    void Update() {
        RunGuarded([&] { flasher.btnOSClick(); });
    }

    void ExpectIdleAgain() {
        EXPECT_EQ(view.busyEntries, 1);
        EXPECT_EQ(view.busyExits, 1);
        EXPECT_TRUE(view.abort);
        EXPECT_EQ(view.progressText, "0 %");
        EXPECT_EQ(flasher.Activity(), DeviceActivity::Idle);
        EXPECT_FALSE(port.Connected());
    }
};

TEST_F(UpdateSequenceTest, CompleteUpdateWritesBothImagesAndKeepsOthersOff) {
    StartSim();
    // Midway, everything else that could touch the port tries to start.
    DeviceActivity activityThen = DeviceActivity::Idle;
    bool searchRan = true;
    QTimer::singleShot(900, [&] {
        activityThen = flasher.Activity();
        searchRan = flasher.tmSearchTimer(); // the search timer fires
        flasher.RequestSearch();             // a device-change notice
        flasher.ComComboBoxChange();         // a probe from the selector
        flasher.btnOSClick();
        flasher.btnExtClick();
    });
    Update();

    EXPECT_TRUE(TestPresenter().boxes.isEmpty());
    EXPECT_EQ(Received("os.bin"), PaddedOS());
    EXPECT_EQ(Received("ext.bin"), extFile);
    EXPECT_EQ(view.lines, CompleteLog);
    EXPECT_EQ(view.panel1,
              (QStringList{"Flashing OS Flash...", "Waiting for ACK...", "Received ACK", "OK",
                           "Waiting 5 sec for boot device...", "Flashing external Flash...",
                           "Waiting for ACK...", "Received ACK", "OK", "Update proceeded!"}));
    EXPECT_EQ(view.panel0, QStringList(576, "ACK"));
    EXPECT_EQ(view.progressPos, 0);
    EXPECT_EQ(view.blockText, "Block: 96");
    // "0 %" on entering, then one text per block over both images.
    ASSERT_EQ(view.progressTexts.size(), 1 + 480 + 96);
    EXPECT_EQ(view.progressTexts[0], "0 %");
    EXPECT_EQ(view.progressTexts[1 + 72], "13 %");
    EXPECT_EQ(view.progressTexts[1 + 216], "38 %");
    EXPECT_EQ(view.progressTexts[1 + 479], "83 %");
    EXPECT_EQ(view.progressTexts[1 + 480], "83 %");
    EXPECT_EQ(view.progressTexts.back(), "100 %");
    ExpectIdleAgain();

    // The intruders were turned away; the search asked for runs once the update is over.
    EXPECT_EQ(activityThen, DeviceActivity::Update);
    EXPECT_FALSE(searchRan);
    EXPECT_EQ(view.beeps, 3);
    EXPECT_TRUE(view.timerEnabled);
    EXPECT_FALSE(flasher.SearchPending());
}

// Another flasher (as quillmoor-flash runs one per device thread, with its own port and its
// own images) that wants the device while the update has the port closed for the restart
// between the images: the update's claim turns it away as an open of a held port is turned
// away, under any name of the device, and the device ends with the update's two images.
TEST_F(UpdateSequenceTest, OtherFlasherDuringTheRestartWaitFindsThePortInUse) {
    StartSim();
    QTemporaryDir otherWork;
    ASSERT_TRUE(otherWork.isValid());
    for (const auto& [name, bytes] : {std::pair{"B_OS.bin", RandomBytes(491516, 21)},
                                      std::pair{"B_EXT.bin", RandomBytes(98304, 22)}}) {
        QFile file(otherWork.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    // The device's own path where the port is a link to it, another spelling elsewhere.
    const QString target = QFileInfo(sim->Path()).symLinkTarget();
    const QString otherName = target.isEmpty() ? sim->Path().toLower() : target;

    // What the other flasher ran into, per attempt; and whether this update's port was open.
    QStringList refusals;
    QStringList otherLines;
    bool portWasOpen = true;
    auto intrude = [&] {
        TComPort otherPort;
        FakeView otherView;
        otherView.ports = QStringList{otherName};
        otherView.portText = otherName;
        DeviceFlasher other(otherPort, otherView);
        if (!other.ClassifyImages(otherWork.path()))
            return;
        other.SetWorkDirectory(otherWork.path());
        const std::function<void()> attempts[] = {[&] { other.btnOSClick(); },
                                                  [&] { other.ComComboBoxChange(); }};
        for (const auto& attempt : attempts) {
            try {
                attempt();
                refusals << "not refused";
            } catch (const EComPortExt& error) {
                refusals << error.Message();
            }
        }
        otherLines = otherView.lines;
    };
    view.onLine = [&](const QString& line) {
        if (line != "-> WAITING 5 SECONDS FOR BOOT DEVICE")
            return;
        portWasOpen = port.Connected();
        std::thread thread(intrude);
        thread.join();
    };
    Update();

    EXPECT_FALSE(portWasOpen);
    const QString inUse = "COM Port Error: the port is in use by another program: " + otherName;
    EXPECT_EQ(refusals, QStringList(2, inUse));
    EXPECT_TRUE(otherLines.isEmpty()) << otherLines.join('\n').toStdString();
    EXPECT_TRUE(TestPresenter().boxes.isEmpty());
    EXPECT_EQ(view.lines, CompleteLog);
    EXPECT_EQ(Received("os.bin"), PaddedOS());
    EXPECT_EQ(Received("ext.bin"), extFile);
    ExpectIdleAgain();

    // Once the update is over, the port is free for the other.
    PortClaim after;
    EXPECT_EQ(after.Claim(otherName).status, PortClaim::Status::Claimed);
}

TEST_F(UpdateSequenceTest, MissingConfirmationStillGoesOnToTheExternalImage) {
    StartSim({"--eot", "junk", "--garbage-gap", "280"});
    Update();
    QStringList expected = CompleteLog;
    expected[3] = "- No Confirmation! -";
    expected[8] = "- No Confirmation! -";
    EXPECT_EQ(view.lines, expected);
    EXPECT_EQ(Received("os.bin"), PaddedOS());
    EXPECT_EQ(Received("ext.bin"), extFile);
    EXPECT_EQ(view.panel1.back(), "Update proceeded!");
    ExpectIdleAgain();
}

// After an update that broke off, the log says where the device is and what to do.
const QString BootLoaderNote = QStringLiteral(
    "[NOTE: THE QUILLMOOR MAY STILL BE IN ITS BOOT LOADER: KEEP IT CONNECTED; IT RETURNS BY "
    "ITSELF AFTER ABOUT 30 S (OR SWITCH IT OFF AND ON); THEN PRESS \"UPDATE QUILLMOOR\" AGAIN]");

TEST_F(UpdateSequenceTest, EmergencyKeyDuringTheOsBlocksAbortsAndReturnsToIdle) {
    StartSim();
    view.onBlockText = [&](const QString& text) {
        if (text == "Block: 50") // the key press arrives as an event during the wait
            QTimer::singleShot(0, [&] { view.abort = true; });
    };
    Update();
    EXPECT_EQ(view.lines.mid(view.lines.size() - 2), (QStringList{"- ABORTED -", BootLoaderNote}));
    EXPECT_EQ(view.panel1.back(), "Aborted");
    EXPECT_FALSE(view.lines.contains("- FLASHING EXTERNAL FLASH -"));
    EXPECT_FALSE(view.lines.contains("-> WAITING 5 SECONDS FOR BOOT DEVICE"));
    EXPECT_TRUE(view.blockText == "Block: 50" || view.blockText == "Block: 51");
    ExpectIdleAgain();
}

TEST_F(UpdateSequenceTest, EmergencyKeyDuringTheRestartSendsNoFurtherEntrySentence) {
    StartSim();
    view.onLine = [&](const QString& line) {
        if (line == "-> WAITING 5 SECONDS FOR BOOT DEVICE") // pressed during the restart
            QTimer::singleShot(0, [&] { view.abort = true; });
    };
    Update();
    // The wait is not judged: the stop came before the device was asked.
    EXPECT_EQ(view.lines.mid(view.lines.size() - 3),
              (QStringList{"-> WAITING 5 SECONDS FOR BOOT DEVICE", "- ABORTED -", BootLoaderNote}));
    EXPECT_EQ(view.panel1.back(), "Aborted");
    EXPECT_FALSE(view.lines.contains("- FLASHING EXTERNAL FLASH -"));
    EXPECT_EQ(Received("os.bin"), PaddedOS());
    EXPECT_EQ(Received("ext.bin"), QByteArray());
    ExpectIdleAgain();
}

// A boot loader that stays after the OS image's EOT would take the external image for the OS
// image; the device must answer in normal operation before the next entry sentence.
TEST_F(UpdateSequenceTest, BootLoaderThatStaysGetsNoSecondImage) {
    StartSim({"--stay-after-eot"});
    Update();
    EXPECT_EQ(view.lines.mid(view.lines.size() - 3),
              (QStringList{"-> WAITING 5 SECONDS FOR BOOT DEVICE  [ERROR]",
                           "-> QUILLMOOR DID NOT RESTART!  [ERROR]", BootLoaderNote}));
    EXPECT_EQ(view.panel1.back(), "Device did not restart");
    EXPECT_EQ(view.notes, QList<FlashNote>{FlashNote::NotRestarted});
    EXPECT_FALSE(view.lines.contains("- FLASHING EXTERNAL FLASH -"));
    EXPECT_EQ(Received("os.bin"), PaddedOS());
    EXPECT_EQ(Received("ext.bin"), QByteArray());
    ExpectIdleAgain();
}

TEST_F(UpdateSequenceTest, DeviceThatFallsSilentEndsTheUpdateInATimeout) {
    StartSim({"--silent-from", "10"});
    LimitSilence(2000, 4000);
    ArmWatchdog(60000);
    Update();
    EXPECT_FALSE(watchdogFired);
    EXPECT_EQ(view.lines.mid(view.lines.size() - 2), (QStringList{"- TIMEOUT -", BootLoaderNote}));
    EXPECT_EQ(view.panel1.back(), "Timeout");
    EXPECT_EQ(view.blockText, "Block: 10");
    EXPECT_EQ(view.notes, QList<FlashNote>{FlashNote::TimedOut});
    EXPECT_FALSE(view.lines.contains("- FLASHING EXTERNAL FLASH -"));
    EXPECT_TRUE(TestPresenter().boxes.isEmpty());
    EXPECT_EQ(Received("os.bin"), QByteArray());
    ExpectIdleAgain();
}

TEST_F(UpdateSequenceTest, PortThatVanishesMidTransferReachesTheErrorReport) {
    StartSim({"--hangup-at", "10"});
    const QString path = sim->Path();
    Update();
    ASSERT_EQ(TestPresenter().boxes.size(), 1);
    const QString text = TestPresenter().boxes[0].text;
    EXPECT_TRUE(text.startsWith("COM Port Error: ")) << text.toStdString();
    EXPECT_TRUE(text.endsWith(" on " + path + ".")) << text.toStdString();
    EXPECT_FALSE(view.lines.contains("- FLASHING EXTERNAL FLASH -"));
    ExpectIdleAgain();
}

TEST_F(UpdateSequenceTest, CorruptOsImageSendsNothing) {
    StartSim();
    WriteFile("QLM_OS.bin", QByteArray(491520, 'x')); // replaced since the list was made
    Update();
    EXPECT_EQ(view.lines,
              (QStringList{"- FLASHING OS FLASH -", "-> FIRMWARE FILE IS CORRUPT!  [ERROR]"}));
    EXPECT_EQ(view.notes, QList<FlashNote>{FlashNote::ImageRefused});
    EXPECT_EQ(Received("os.bin"), QByteArray());
    ExpectIdleAgain();
}

TEST_F(UpdateSequenceTest, SilentDeviceLeavesTheWindowIdle) {
    SilentPty silent(TestPortName(links, "silent"));
    view.ports = QStringList{silent.Path()};
    view.portText = silent.Path();
    Update();
    EXPECT_EQ(view.lines, QStringList{"-> QUILLMOOR DOES NOT ANSWER!  [ERROR]"});
    EXPECT_EQ(view.busyEntries, 0);
    EXPECT_EQ(flasher.Activity(), DeviceActivity::Idle);
}

TEST_F(UpdateSequenceTest, EmptyImageListWritesOneLineAndTouchesNothing) {
    TComPort otherPort;
    FakeView otherView;
    otherView.portText = links.filePath("nothing-here"); // opening it would raise
    DeviceFlasher empty(otherPort, otherView);
    RunGuarded([&] { empty.btnOSClick(); });
    EXPECT_EQ(otherView.lines, QStringList{"-> NO FIRMWARE FILE LOADED!  [ERROR]"});
    EXPECT_EQ(otherView.busyEntries, 0);
    EXPECT_TRUE(TestPresenter().boxes.isEmpty());
}

TEST_F(UpdateSequenceTest, PickImageLoadsAndResetsTheBlockLabel) {
    view.blockText = "Block: 480";
    EXPECT_TRUE(flasher.PickImage(0));
    EXPECT_EQ(view.lines, QStringList{"-> LOADING FIRMWARE FILE: QLM_OS.bin  [OK]"});
    EXPECT_EQ(view.blockText, "Block: 0");
    EXPECT_EQ(flasher.Image().Bytes(), PaddedOS());

    view.lines.clear();
    WriteFile("QLM_EXT.bin", QByteArray(98305, 'x'));
    EXPECT_FALSE(flasher.PickImage(1));
    EXPECT_EQ(view.lines, QStringList{"-> FIRMWARE FILE IS CORRUPT!  [ERROR]"});
    EXPECT_FALSE(flasher.PickImage(7));
}

} // namespace
