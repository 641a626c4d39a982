#include "app/FileUtils.h"
#include "flashing/DeviceFlasher.h"
#include "flashing/FirmwareImage.h"
#include "serial/TComComboBox.h"
#include "support/RecordingPresenter.h"
#include "support/TempFolderAt.h"
#include "support/TestFiles.h"
#include "support/TestHttpServer.h"
#include "support/ZipFixture.h"
#include "updater/MonitorMemo.h"
#include "updater/TFQLXUpdate.h"
#include "web/WebGet.h"
#include "web/WebText.h"

#include <QDir>
#include <QGroupBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <memory>

namespace {
const QString VersionPath = QStringLiteral("/~plinth-works/QLM/Firmware.dat");
const QString PackagePath = QStringLiteral("/~plinth-works/QLM/QLMUpdate.zip");
const QString Note = QStringLiteral("[NOTE: YOU MUST BE CONNECTED TO THE INTERNET]");
constexpr int OsSize = 491516;
constexpr int ExtSize = 98304;

// The window against a local update server; it lists no serial ports.
class WebFlowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.Start());
        qputenv("QLM_UPDATE_SERVER", server.BaseUrl().toUtf8());
        TComSelect::SetPortSource([](QStringList& list) { list.clear(); });
        TestPresenter().boxes.clear();
        window = std::make_unique<TFQLXUpdate>();
        QDir(window->WorkDirectory()).removeRecursively();
        QDir().mkpath(window->WorkDirectory());
        window->WebGetComponent().DialogSettings.ShowDialog = false;
    }
    void TearDown() override {
        window->close();
        window.reset();
        TComSelect::SetPortSource(nullptr);
        qputenv("QLM_UPDATE_SERVER", "http://127.0.0.1:9");
    }
    void ServeVersion(const QByteArray& body) { server.Route(VersionPath, {200, body}); }
    void ServePackage(const ZipMembers& members) {
        const QByteArray zip = MakeZip(members);
        ASSERT_FALSE(zip.isEmpty());
        server.Route(PackagePath, {200, zip});
    }
    QStringList Log() { return window->findChild<MonitorMemo*>("lstMonitor")->Lines(); }
    QString Caption() { return window->findChild<QGroupBox*>("grpWeb")->title(); }
    bool Enabled(const char* button) {
        return window->findChild<QPushButton*>(button)->isEnabled();
    }

    TestHttpServer server;
    std::unique_ptr<TFQLXUpdate> window;
};

const ZipMembers GoodPackage{{"firmware/QLM_OS.bin", TestBytes(OsSize, 1)},
                             {"firmware/QLM_EXT.bin", TestBytes(ExtSize, 2)},
                             {"readme.txt", "notes"}};
} // namespace

TEST_F(WebFlowTest, SuccessShowsVersionUnpacksImagesAndEnablesTheUpdate) {
    ServeVersion("Quillmoor firmware\n2.17\nignored third line\n");
    ServePackage(GoodPackage);
    window->btnWebFirmwareClick();

    EXPECT_EQ(Log(), (QStringList{"-> DOWNLOAD FIRMWARE FROM SERVER  [OK]",
                                  "-> CHECKING FIRMWARE FILE  [OK] -> VERS.: 2.17"}));
    EXPECT_EQ(Caption(), "Firmware Webcheck (Vers.: 2.17)");
    EXPECT_FALSE(Enabled("btnWebFirmware"));
    EXPECT_TRUE(Enabled("btnOS"));
    EXPECT_FALSE(window->Flasher().Images().IsEmpty());
    // The images come out of their folder into the work directory itself.
    EXPECT_EQ(QFileInfo(window->WorkDirectory() + "/QLM_OS.bin").size(), OsSize);
    EXPECT_EQ(QFileInfo(window->WorkDirectory() + "/QLM_EXT.bin").size(), ExtSize);
    EXPECT_TRUE(TestPresenter().boxes.isEmpty());
}

TEST_F(WebFlowTest, VersionKeepsTheCarriageReturnOfCrLfLines) {
    ServeVersion("Quillmoor firmware\r\n2.18\r\n");
    ServePackage(GoodPackage);
    window->btnWebFirmwareClick();
    EXPECT_EQ(Caption(), "Firmware Webcheck (Vers.: 2.18\r)");
    EXPECT_EQ(Log(), (QStringList{"-> DOWNLOAD FIRMWARE FROM SERVER  [OK]",
                                  "-> CHECKING FIRMWARE FILE  [OK] -> VERS.: 2.18\r"}));
}

// Every failure ends the failed step's line and names its cause; the advice to check the
// internet connection comes only where the network may be at fault, not where the server
// answered.
TEST_F(WebFlowTest, FailuresNameTheirCause) {
    const QString download = "-> DOWNLOAD FIRMWARE FROM SERVER  [ERROR]";
    const QString checking = "-> CHECKING FIRMWARE FILE  [ERROR]";
    const QString noImages = "[NOTE: THE PACKAGE DOES NOT HOLD THE TWO FIRMWARE IMAGES]";
    enum class Server { Serving, Closed };
    struct Case {
        const char* name;
        Server server;
        TestRoute version;
        TestRoute package;
        QStringList lines; // after the download line
        bool packageRequested;
    } cases[] = {
        {"no version line",
         Server::Serving,
         {.body = "Quillmoor firmware 2.17\n"},
         {},
         {download, " ", "[NOTE: THE SERVER'S VERSION FILE HAS NO VERSION LINE]"},
         false},
        {"version file missing",
         Server::Serving,
         {.status = 404, .body = "not here"},
         {},
         {download, " ", "[NOTE: THE SERVER ANSWERED 404 NOT FOUND]"},
         false},
        {"package missing",
         Server::Serving,
         {.body = "QLM\n2.17\n"},
         {.status = 404, .body = "not here"},
         {download, " ", "[NOTE: THE SERVER ANSWERED 404 NOT FOUND]"},
         true},
        {"server busy",
         Server::Serving,
         {.body = "QLM\n2.17\n"},
         {.status = 503, .body = "later"},
         {download, " ", "[NOTE: THE SERVER ANSWERED 503 SERVICE UNAVAILABLE]"},
         true},
        {"version too slow",
         Server::Serving,
         {.body = "QLM\n2.17\n", .headTrickleMs = 400},
         {},
         {download, " ", "[NOTE: THE SERVER CANNOT BE REACHED: NO ANSWER IN TIME]", Note},
         false},
        {"package trickles",
         Server::Serving,
         {.body = "QLM\n2.17\n"},
         {.body = QByteArray(4000, 'z'), .trickleMs = 200},
         {download, " ", "[NOTE: THE SERVER SENT LESS THAN 1024 BYTES IN 1 S]", Note},
         true},
        {"connection refused",
         Server::Closed,
         {},
         {},
         {download, " ", "[NOTE: THE SERVER CANNOT BE REACHED: CONNECTION REFUSED]"},
         false},
        {"not a zip",
         Server::Serving,
         {.body = "QLM\n2.17\n"},
         {.body = "this is no archive, just text"},
         {"-> DOWNLOAD FIRMWARE FROM SERVER  [OK]", checking, " ", noImages,
          "[NOTE: EXPECTED TWO .BIN IMAGES OF 491516 AND 98304 BYTES; FOUND: NO ARCHIVE "
          "MEMBERS]"},
         true},
        {"wrong sizes",
         Server::Serving,
         {.body = "QLM\n2.17\n"},
         {.body = MakeZip({{"fw/QLM_OS.bin", TestBytes(400000, 1)},
                           {"QLM_EXT.bin", TestBytes(ExtSize, 2)},
                           {"readme.txt", "notes"}})},
         {"-> DOWNLOAD FIRMWARE FROM SERVER  [OK]", checking, " ", noImages,
          "[NOTE: EXPECTED TWO .BIN IMAGES OF 491516 AND 98304 BYTES; FOUND: QLM_OS.bin 400000 "
          "BYTES, QLM_EXT.bin 98304 BYTES, readme.txt 5 BYTES]"},
         true},
        {"three images",
         Server::Serving,
         {.body = "QLM\n2.17\n"},
         {.body = MakeZip({{"QLM_OS.bin", TestBytes(OsSize, 1)},
                           {"QLM_EXT.bin", TestBytes(ExtSize, 2)},
                           {"QLM_EXT2.bin", TestBytes(ExtSize, 3)}})},
         {"-> DOWNLOAD FIRMWARE FROM SERVER  [OK]", checking, " ",
          "[NOTE: THE PACKAGE HOLDS MORE THAN ONE IMAGE OF A SIZE]"},
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        if (c.server == Server::Closed) {
            QTcpServer closed; // a port that was just free: nobody listens there now
            ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
            const QByteArray url = "http://127.0.0.1:" + QByteArray::number(closed.serverPort());
            closed.close();
            SetUp();
            qputenv("QLM_UPDATE_SERVER", url);
            window = std::make_unique<TFQLXUpdate>();
            window->WebGetComponent().DialogSettings.ShowDialog = false;
        } else {
            SetUp();
        }
        window->WebTextComponent().DeadlineMs = 1000;
        window->WebGetComponent().Floor = TransferFloor{1000, 1024};
        server.Route(VersionPath, c.version);
        server.Route(PackagePath, c.package);

        const int hitsBefore = server.Hits(PackagePath);
        window->btnWebFirmwareClick();
        EXPECT_EQ(Log().join('\n').toStdString(), c.lines.join('\n').toStdString());
        EXPECT_EQ(server.Hits(PackagePath) - hitsBefore, c.packageRequested ? 1 : 0);
        EXPECT_TRUE(Enabled("btnWebFirmware"));
        EXPECT_FALSE(Enabled("btnOS"));
        EXPECT_TRUE(window->Flasher().Images().IsEmpty());
    }
}

TEST_F(WebFlowTest, OnlyMembersThatCanBeImagesAreUnpacked) {
    ServeVersion("QLM\n2.17\n");
    const ZipMembers members{{"firmware/QLM_OS.bin", TestBytes(OsSize, 1)},
                             {"firmware/QLM_EXT.BIN", TestBytes(ExtSize, 2)},
                             {"readme.txt", "notes"},
                             {"other.bin", TestBytes(1000, 4)},
                             {"QLM_OS.img", TestBytes(OsSize, 5)}};
    ServePackage(members);
    window->btnWebFirmwareClick();
    EXPECT_EQ(Log().last(), "-> CHECKING FIRMWARE FILE  [OK] -> VERS.: 2.17");
    EXPECT_TRUE(Enabled("btnOS"));
    QStringList unpacked = QDir(window->WorkDirectory()).entryList(QDir::Files);
    unpacked.sort();
    EXPECT_EQ(unpacked, (QStringList{"QLMUpdate.zip", "QLM_EXT.BIN", "QLM_OS.bin"}));
}

TEST_F(WebFlowTest, RetryWithoutVersionKeepsTheEarlierVersionAndDownloadsAgain) {
    ServeVersion("QLM\n2.17\n");
    server.Route(PackagePath, {404, "not yet"});
    window->btnWebFirmwareClick();
    EXPECT_EQ(Caption(), "Firmware Webcheck (Vers.: 2.17)");

    server.Route(VersionPath, {404, "gone"});
    ServePackage(GoodPackage);
    window->btnWebFirmwareClick();
    EXPECT_EQ(server.Hits(PackagePath), 2);
    EXPECT_EQ(Log().last(), "-> CHECKING FIRMWARE FILE  [OK] -> VERS.: 2.17");
}

// The package of a failed attempt is not checked again when a retry's download does not
// start: it may be what made the attempt fail.
TEST_F(WebFlowTest, RetryWhoseDownloadDoesNotStartFindsNoEarlierPackage) {
    ServeVersion("QLM\n2.17\n");
    ServePackage({{"QLM_OS.bin", TestBytes(OsSize, 1)}});
    window->btnWebFirmwareClick();
    EXPECT_EQ(Log()[1], "-> CHECKING FIRMWARE FILE  [ERROR]");

    server.Route(PackagePath, {404, "gone"});
    window->btnWebFirmwareClick();
    EXPECT_EQ(Log().mid(5), (QStringList{"-> DOWNLOAD FIRMWARE FROM SERVER  [ERROR]", " ",
                                         "[NOTE: THE SERVER ANSWERED 404 NOT FOUND]"}));
}

// A package whose external image is damaged fails; the server is then mended with a newer
// version. The update must get the newer package's two images, not the failed attempt's good
// OS image beside the newer external one.
TEST_F(WebFlowTest, AFailedAttemptLeavesNothingALaterOneCouldFlash) {
    const QByteArray oldOs = TestBytes(OsSize, 1);
    ServeVersion("QLM\n2.17\n");
    QByteArray damaged = MakeZip({{"QLM_OS.bin", oldOs}, {"QLM_EXT.bin", TestBytes(ExtSize, 2)}});
    ASSERT_TRUE(CorruptMemberCrc(damaged, "QLM_EXT.bin"));
    server.Route(PackagePath, {200, damaged});
    window->btnWebFirmwareClick();
    ASSERT_EQ(Log()[1], "-> CHECKING FIRMWARE FILE  [ERROR]");
    EXPECT_TRUE(QDir(window->WorkDirectory()).entryList({"*.bin"}, QDir::Files).isEmpty());

    const QByteArray newOs = TestBytes(OsSize, 7);
    const QByteArray newExt = TestBytes(ExtSize, 8);
    ServeVersion("QLM\n2.20\n");
    ServePackage({{"QLM_OS.bin", newOs}, {"QLM_EXT.bin", newExt}});
    window->btnWebFirmwareClick();
    ASSERT_EQ(Log().last(), "-> CHECKING FIRMWARE FILE  [OK] -> VERS.: 2.20");
    DeviceFlasher& flasher = window->Flasher();
    ASSERT_TRUE(flasher.PickImage(ImageClass::KindOS));
    EXPECT_TRUE(flasher.Image().Bytes().startsWith(newOs));
    ASSERT_TRUE(flasher.PickImage(ImageClass::KindExt));
    EXPECT_EQ(flasher.Image().Bytes(), newExt);
}

// The automatic search, due while the flow runs, waits for the flow's outcome: its own line
// would otherwise take the download's "[OK]".
TEST_F(WebFlowTest, ASearchDueDuringTheFlowWaitsForItsOutcome) {
    ServeVersion("QLM\n2.17\n");
    ServePackage(GoodPackage);
    window->WebGetComponent().OnFileStart = [&](TWebGet&, int) {
        window->EnableSearchTimer();
        QTest::qWait(1200); // past the timer's interval, inside the download's waits
    };
    window->btnWebFirmwareClick();
    EXPECT_EQ(Log(), (QStringList{"-> DOWNLOAD FIRMWARE FROM SERVER  [OK]",
                                  "-> CHECKING FIRMWARE FILE  [OK] -> VERS.: 2.17"}));
    EXPECT_TRUE(QTest::qWaitFor([&] { return Log().size() == 3; }, 5000));
    EXPECT_EQ(Log().last(), "-> AUTOSEARCH FOR QUILLMOOR DEVICE  [NOT FOUND]");
}

TEST_F(WebFlowTest, ASecondStartWhileTheFlowRunsIsRefused) {
    ServeVersion("QLM\n2.17\n");
    ServePackage(GoodPackage);
    int nested = 0;
    window->WebGetComponent().OnFileStart = [&](TWebGet&, int) {
        ++nested;
        window->btnWebFirmwareClick(); // as a click handled inside the download's waits
    };
    window->btnWebFirmwareClick();
    EXPECT_EQ(nested, 1);
    EXPECT_EQ(Log(), (QStringList{"-> DOWNLOAD FIRMWARE FROM SERVER  [OK]",
                                  "-> CHECKING FIRMWARE FILE  [OK] -> VERS.: 2.17"}));
}

// No private work folder could be made (the temporary folder is a file): the update says so
// and downloads nothing, neither into the unverified path nor into the current folder.
TEST_F(WebFlowTest, AnUnusableTemporaryFolderIsNamedAndNothingIsDownloaded) {
    ServeVersion("QLM\n2.17\n");
    ServePackage(GoodPackage); // made in the temporary folder, while it still is one
    window.reset();
    QTemporaryDir top;
    const QString notAFolder = top.filePath("tmp");
    WriteFile(notAFolder, "a file");
    TempFolderAt place(notAFolder);
    const QString cwd = QDir::currentPath();
    QDir::setCurrent(top.path());
    window = std::make_unique<TFQLXUpdate>();
    window->WebGetComponent().DialogSettings.ShowDialog = false;
    EXPECT_EQ(window->WorkDirectory(), QString());
    window->btnWebFirmwareClick();
    QDir::setCurrent(cwd);

    EXPECT_EQ(Log(), (QStringList{"-> DOWNLOAD FIRMWARE FROM SERVER  [ERROR]",
                                  "[NOTE: THE TEMPORARY FOLDER IS NOT USABLE: " +
                                      QDir::toNativeSeparators(AddBackslash(notAFolder)) + "]"}));
    EXPECT_EQ(server.Hits(PackagePath), 0);
    EXPECT_EQ(QDir(top.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
              QStringList{"tmp"});
    EXPECT_EQ(ReadFile(notAFolder), "a file");
    EXPECT_FALSE(Enabled("btnOS"));
}
