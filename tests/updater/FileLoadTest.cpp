#include "app/FileUtils.h"
#include "app/SafeFiles.h"
#include "archive/ZipUnpacker.h"
#include "firmware/FirmwareFileLoader.h"
#include "flashing/DeviceFlasher.h"
#include "flashing/FirmwareImage.h"
#include "serial/TComComboBox.h"
#include "support/RecordingPresenter.h"
#include "support/SimDevice.h"
#include "support/TempFolderAt.h"
#include "support/TestFiles.h"
#include "support/TestHttpServer.h"
#include "support/ZipFixture.h"
#include "updater/FirmwareFileOpener.h"
#include "updater/MonitorMemo.h"
#include "updater/TFQLXUpdate.h"
#include "web/WebGet.h"
#include "web/WebText.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QGroupBox>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace {
constexpr int OsSize = 491516;
constexpr int ExtSize = 98304;
const QString Checking = QStringLiteral("-> CHECKING FIRMWARE FILE");

// The window counts its beeps instead of sounding them.
class CountingWindow : public TFQLXUpdate {
public:
    void Beep() override { ++beeps; }
    int beeps = 0;
};

// The window with firmware files of the user's own; no ports, no reachable server.
class FileLoadTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(files.isValid());
        TComSelect::SetPortSource([](QStringList& list) { list.clear(); });
        TestPresenter().boxes.clear();
        window = std::make_unique<CountingWindow>();
        window->FileOpener().FileChooser = [this](QWidget*, const QString& folder) {
            ++dialogs;
            folders << folder;
            return chosen;
        };
    }
    void TearDown() override {
        window->close();
        window.reset();
        TComSelect::SetPortSource(nullptr);
    }

    QString Write(const QString& name, const QByteArray& data) {
        const QString path = files.filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(data);
        return path;
    }
    QString Package(const QString& name, const QByteArray& os, const QByteArray& ext) {
        return Write(name, MakeZip({{"firmware/QLM_OS.bin", os},
                                    {"firmware/QLM_EXT.bin", ext},
                                    {"readme.txt", "notes"}}));
    }
    // Files dropped on the window as a file manager drops them: the drag enters, then drops.
    void Drop(QMimeData* data) {
        const QPoint at(200, 200);
        QDragEnterEvent enter(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window.get(), &enter);
        QDropEvent drop(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window.get(), &drop);
        delete data;
    }
    void DropFiles(const QStringList& paths) {
        auto* data = new QMimeData;
        QList<QUrl> urls;
        for (const QString& path : paths)
            urls << QUrl::fromLocalFile(path);
        data->setUrls(urls);
        Drop(data);
    }
    QStringList Log() { return window->findChild<MonitorMemo*>("lstMonitor")->Lines(); }
    QString Caption() { return window->findChild<QGroupBox*>("grpWeb")->title(); }
    bool Enabled(const char* name) { return window->findChild<QPushButton*>(name)->isEnabled(); }
    QStringList WorkFiles() {
        QStringList entries =
            QDir(window->WorkDirectory())
                .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        entries.sort();
        return entries;
    }
    QByteArray WorkFile(const QString& name) {
        QFile file(window->WorkDirectory() + "/" + name);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }

    QTemporaryDir files;
    std::unique_ptr<CountingWindow> window;
    QStringList chosen;
    QStringList folders; // where each dialog opened
    int dialogs = 0;
    const QByteArray os = TestBytes(OsSize, 11);
    const QByteArray ext = TestBytes(ExtSize, 12);
};
} // namespace

TEST_F(FileLoadTest, PackageDroppedOnTheWindowIsUnpackedAndChecked) {
    const QString package = Package("Quillmoor-2.20.zip", os, ext);
    DropFiles({package});

    EXPECT_EQ(Log(), (QStringList{"-> LOADING FIRMWARE PACKAGE: Quillmoor-2.20.zip  [OK]",
                                  Checking + "  [OK]"}));
    EXPECT_EQ(Caption(), "Firmware file (Quillmoor-2.20.zip)");
    EXPECT_TRUE(Enabled("btnOS"));
    EXPECT_FALSE(Enabled("btnWebFirmware"));
    EXPECT_EQ(WorkFiles(), (QStringList{"QLMUpdate.zip", "QLM_EXT.bin", "QLM_OS.bin"}));
    EXPECT_EQ(WorkFile("QLM_OS.bin"), os);
    EXPECT_EQ(WorkFile("QLM_EXT.bin"), ext);
    EXPECT_EQ(window->Flasher().Images().NameOfTag(1), "QLM_OS.bin");
    EXPECT_TRUE(QFile::exists(package)); // the user's file stays where it was
    EXPECT_TRUE(TestPresenter().boxes.isEmpty());
    EXPECT_EQ(window->beeps, 0);
}

TEST_F(FileLoadTest, TwoImagesFromTheMenuOrCtrlO) {
    chosen = {Write("os.bin", os), Write("ext.bin", ext)};
    QMenu* menu = window->findChild<QPushButton*>("btnWebFirmware")->menu();
    ASSERT_NE(menu, nullptr);
    QAction* open = nullptr;
    for (QAction* action : menu->actions())
        if (action->text() == QStringLiteral("Open firmware file\u2026"))
            open = action;
    ASSERT_NE(open, nullptr);
    EXPECT_EQ(open->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_O));
    open->trigger();

    EXPECT_EQ(dialogs, 1);
    EXPECT_EQ(Log(), (QStringList{"-> LOADING FIRMWARE PACKAGE: os.bin, ext.bin  [OK]",
                                  Checking + "  [OK]"}));
    EXPECT_EQ(Caption(), "Firmware file (os.bin, ext.bin)");
    EXPECT_EQ(WorkFiles(), (QStringList{"ext.bin", "os.bin"}));
    EXPECT_TRUE(Enabled("btnOS"));

    // Another pick replaces them, now by the key, with the download button already off.
    const QString package = Package("QLMUpdate-new.zip", os, ext);
    chosen = {package};
    window->show();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    QTest::keyClick(window.get(), Qt::Key_O, Qt::ControlModifier);
    EXPECT_EQ(dialogs, 2);
    EXPECT_EQ(folders.value(1), files.path()); // where the last pick came from
    EXPECT_EQ(Log().mid(2), (QStringList{"-> LOADING FIRMWARE PACKAGE: QLMUpdate-new.zip  [OK]",
                                         Checking + "  [OK]"}));
    EXPECT_EQ(WorkFiles(), (QStringList{"QLMUpdate.zip", "QLM_EXT.bin", "QLM_OS.bin"}));

    // A dialog closed without a choice changes nothing.
    chosen = {};
    open->trigger();
    EXPECT_EQ(Log().size(), 4);
}

// A user who picked the wrong file after a good one can still update with the good one.
TEST_F(FileLoadTest, AFileThatFailsKeepsTheEarlierImages) {
    DropFiles({Package("good.zip", os, ext)});
    ASSERT_TRUE(Enabled("btnOS"));
    const QStringList goodFiles = WorkFiles();
    const QString goodCaption = Caption();

    ASSERT_TRUE(QDir(files.path()).mkdir("folder.zip"));
    const QString huge = files.filePath("huge.zip");
    {
        QFile file(huge);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_TRUE(file.resize((qint64(256) << 20) + 1)); // sparse: takes no disk space
    }
    const QString noPackage = "[NOTE: THE PACKAGE DOES NOT HOLD THE TWO FIRMWARE IMAGES]";
    struct Case {
        QStringList paths;
        QStringList lines;
        int boxes;
    } cases[] = {
        {{Write("page.zip", "<html>404</html>")},
         {"-> LOADING FIRMWARE PACKAGE: page.zip  [OK]", Checking + "  [ERROR]", noPackage,
          "[NOTE: EXPECTED TWO .BIN IMAGES OF 491516 AND 98304 BYTES; FOUND: NO ARCHIVE "
          "MEMBERS]"},
         1},
        {{Package("swapped.zip", ext, os + "x")},
         {"-> LOADING FIRMWARE PACKAGE: swapped.zip  [OK]", Checking + "  [ERROR]", noPackage,
          "[NOTE: EXPECTED TWO .BIN IMAGES OF 491516 AND 98304 BYTES; FOUND: QLM_OS.bin 98304 "
          "BYTES, QLM_EXT.bin 491517 BYTES, readme.txt 5 BYTES]"},
         0},
        {{Write("a.bin", os.left(1000)), Write("b.bin", ext)},
         {"-> LOADING FIRMWARE PACKAGE: a.bin, b.bin  [OK]", Checking + "  [ERROR]",
          "[NOTE: THE IMAGES MUST HAVE 491516 AND 98304 BYTES]"},
         0},
        {{files.filePath("gone.zip")},
         {"-> LOADING FIRMWARE PACKAGE: gone.zip  [ERROR]", "[NOTE: FILE NOT FOUND: gone.zip]"},
         0},
        {{files.filePath("folder.zip")},
         {"-> LOADING FIRMWARE PACKAGE: folder.zip  [ERROR]", "[NOTE: NOT A FILE: folder.zip]"},
         0},
        {{huge},
         {"-> LOADING FIRMWARE PACKAGE: huge.zip  [ERROR]",
          "[NOTE: FILE LARGER THAN 256 MB: huge.zip]"},
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.paths.join(", ").toStdString());
        TestPresenter().boxes.clear();
        const int before = Log().size();
        EXPECT_FALSE(window->LoadFirmwareFiles(c.paths));
        EXPECT_EQ(Log().mid(before), c.lines);
        EXPECT_EQ(TestPresenter().boxes.size(), c.boxes);
        // A file that is no archive: the box says what a package is.
        if (c.boxes > 0)
            EXPECT_EQ(TestPresenter().boxes.first().text.toStdString(),
                      "This archive is not a valid Zip archive\n\nA firmware package is a ZIP "
                      "archive that holds the two firmware images: .bin files of 491516 and "
                      "98304 bytes.");
        EXPECT_EQ(WorkFiles(), goodFiles);
        EXPECT_EQ(WorkFile("QLM_OS.bin"), os);
        EXPECT_EQ(window->Flasher().Images().NameOfTag(2), "QLM_EXT.bin");
        EXPECT_TRUE(Enabled("btnOS"));
        EXPECT_EQ(Caption(), goodCaption);
    }
}

TEST_F(FileLoadTest, DropsOfAnythingElseAreRefusedWithABeep) {
    const QString package = Package("one.zip", os, ext);
    const QString other = Package("two.zip", os, ext);
    const std::function<QMimeData*()> drops[] = {
        [] {
            auto* data = new QMimeData;
            data->setText("QLMUpdate.zip");
            return data;
        },
        [&] {
            auto* data = new QMimeData;
            data->setUrls({QUrl::fromLocalFile(package), QUrl::fromLocalFile(other)});
            return data;
        },
        [&] {
            auto* data = new QMimeData;
            data->setUrls({QUrl::fromLocalFile(Write("notes.txt", "text"))});
            return data;
        },
        [] {
            auto* data = new QMimeData;
            data->setUrls({QUrl("http://127.0.0.1:9/QLMUpdate.zip")});
            return data;
        },
    };
    int expected = 0;
    for (const auto& make : drops) {
        Drop(make());
        EXPECT_EQ(window->beeps, ++expected);
    }
    EXPECT_TRUE(Log().isEmpty());
    EXPECT_FALSE(Enabled("btnOS"));
}

TEST_F(FileLoadTest, RefusedWithABeepWhileTheWebUpdateRuns) {
    const QString package = Package("QLMUpdate.zip", os, ext);
    TestHttpServer server;
    ASSERT_TRUE(server.Start());
    server.Route("/Firmware.dat", {200, "QLM\n2.17\n"});
    window->WebTextComponent().Data[0].URL = server.Url("/Firmware.dat");
    window->WebGetComponent().DialogSettings.ShowDialog = false;
    bool loaded = true;
    // As a drop handled inside the web update's waits.
    window->WebTextComponent().OnProgress = [&](TWebText&, int) {
        loaded = window->LoadFirmwareFiles({package});
    };
    window->btnWebFirmwareClick();
    EXPECT_FALSE(loaded);
    EXPECT_EQ(window->beeps, 1);
    EXPECT_FALSE(Log().join('\n').contains("LOADING"));
}

TEST_F(FileLoadTest, FilesNamedAtStartLoadAndTheWebUpdateNeverStartsByItself) {
    window->OpenAtStart({Package("start.zip", os, ext)});
    window->show();
    // Past the first automatic search, which finds no port.
    QTest::qWait(1500);
    EXPECT_EQ(Log(),
              (QStringList{"-> LOADING FIRMWARE PACKAGE: start.zip  [OK]", Checking + "  [OK]",
                           "-> AUTOSEARCH FOR QUILLMOOR DEVICE  "
                           "[NOT FOUND]"}));
    EXPECT_TRUE(Enabled("btnOS"));
}

// The image list keeps one image of each size, so such a package can never be flashed;
// unpacking its members could only fill the disk.
TEST_F(FileLoadTest, APackageWithMoreThanOneImageOfASizeIsRefusedBeforeUnpacking) {
    const QString many = Write("many.zip", MakeZip({{"a/QLM_OS.bin", os},
                                                    {"b/QLM_OS.bin", TestBytes(OsSize, 3)},
                                                    {"QLM_EXT.bin", ext}}));
    EXPECT_FALSE(window->LoadFirmwareFiles({many}));
    EXPECT_EQ(Log(),
              (QStringList{"-> LOADING FIRMWARE PACKAGE: many.zip  [OK]", Checking + "  [ERROR]",
                           "[NOTE: THE PACKAGE HOLDS MORE THAN ONE IMAGE OF A SIZE]"}));
    EXPECT_EQ(window->ZipComponent().SuccessCnt(), 0);
    EXPECT_TRUE(WorkFiles().isEmpty());
    EXPECT_FALSE(Enabled("btnOS"));
}

// A file that claims no size and has no end (a file of the proc file system, here through a
// link named like a package): the copy counts what it gets and stops at the bound.
TEST_F(FileLoadTest, AFileWithoutEndIsCutOffAtTheBound) {
    const QString endless = QStringLiteral("/proc/self/pagemap");
    if (!QFileInfo(endless).isFile())
        GTEST_SKIP() << "no proc file system";
    const QString link = files.filePath("p.zip");
    ASSERT_TRUE(QFile::link(endless, link));
    // Where links are shortcut files of their own, nothing here claims no size.
    if (QFileInfo(link).size() != 0)
        GTEST_SKIP() << "no link to a file that claims no size";
    const int64_t room = FreeDiskSpace(window->WorkDirectory()) - DiskSpaceReserve;
    const QString note = room > FirmwareFileLoader::MaxFileBytes + (1 << 20)
                             ? QStringLiteral("[NOTE: FILE LARGER THAN 256 MB: p.zip]")
                             : QStringLiteral("[NOTE: NOT ENOUGH DISK SPACE]");
    EXPECT_FALSE(window->LoadFirmwareFiles({link}));
    EXPECT_EQ(Log(), (QStringList{"-> LOADING FIRMWARE PACKAGE: p.zip  [ERROR]", note}));
    EXPECT_TRUE(WorkFiles().isEmpty());
}

// A load asked for while the automatic search probes a port writes its lines after the
// search's outcome, not between the search's line and its outcome.
TEST_F(FileLoadTest, ALoadDuringASearchComesAfterTheSearchsOutcome) {
    QTemporaryDir links;
    SilentPty silent(TestPortName(links, "s"));
    TComSelect::SetPortSource([&](QStringList& list) { list = ListPorts({silent.Path()}); });
    window = std::make_unique<CountingWindow>();
    const QString package = Package("late.zip", os, ext);
    bool loaded = true;
    QTimer::singleShot(0, window.get(), [&] { loaded = window->LoadFirmwareFiles({package}); });
    window->Flasher().tmSearchTimer();
    EXPECT_FALSE(loaded);
    EXPECT_TRUE(QTest::qWaitFor([&] { return Enabled("btnOS"); }, 5000));
    EXPECT_EQ(Log(),
              (QStringList{"-> AUTOSEARCH FOR QUILLMOOR DEVICE  [NOT FOUND]",
                           "-> LOADING FIRMWARE PACKAGE: late.zip  [OK]", Checking + "  [OK]"}));
}

// Two packages opened from a file manager start two instances in one temporary folder: each
// must flash its own package, and neither may empty the other's folder.
TEST_F(FileLoadTest, TwoInstancesKeepTheirOwnFirmware) {
    window.reset();
    QTemporaryDir temp;
    TempFolderAt place(temp.path());
    // Left by an instance that was killed: nobody holds it.
    const QString killed = MakeFreshPrivateFolder(temp.path(), "QLMUpdate");
    ASSERT_FALSE(killed.isEmpty());
    ASSERT_TRUE(QDir(killed).mkpath("incoming"));
    WriteFile(killed + "/QLM_OS.bin", os);
    WriteFile(killed + "/incoming/QLM_OS.bin", os);

    window = std::make_unique<CountingWindow>();
    const QString workA = window->WorkDirectory();
    EXPECT_EQ(QDir::fromNativeSeparators(workA), temp.filePath("QLMUpdate"));
    EXPECT_FALSE(QFileInfo::exists(killed));
    auto other = std::make_unique<CountingWindow>();
    const QString workB = other->WorkDirectory();
    EXPECT_NE(workB, workA);

    const QByteArray os2 = TestBytes(OsSize, 21);
    const QByteArray ext2 = TestBytes(ExtSize, 22);
    ASSERT_TRUE(window->LoadFirmwareFiles({Package("good.zip", os, ext)}));
    ASSERT_TRUE(other->LoadFirmwareFiles({Package("other.zip", os2, ext2)}));
    ASSERT_TRUE(other->Flasher().PickImage(ImageClass::KindOS));
    EXPECT_TRUE(other->Flasher().Image().Bytes().startsWith(os2));

    // A third instance started meanwhile leaves the running ones alone.
    auto third = std::make_unique<CountingWindow>();
    EXPECT_TRUE(QFileInfo::exists(workB + "/QLM_OS.bin"));
    third->close();
    other->close();
    other.reset();
    EXPECT_FALSE(QFileInfo::exists(workB));
    ASSERT_TRUE(window->Flasher().PickImage(ImageClass::KindOS));
    EXPECT_TRUE(window->Flasher().Image().Bytes().startsWith(os));
    ASSERT_TRUE(window->Flasher().PickImage(ImageClass::KindExt));
    EXPECT_EQ(window->Flasher().Image().Bytes(), ext);
}

// The images are written as they were when loaded: one changed afterwards is refused.
TEST_F(FileLoadTest, AnImageChangedAfterLoadingIsNotFlashed) {
    ASSERT_TRUE(window->LoadFirmwareFiles({Package("good.zip", os, ext)}));
    WriteFile(window->WorkDirectory() + "/QLM_OS.bin", TestBytes(OsSize, 5));
    EXPECT_FALSE(window->Flasher().PickImage(ImageClass::KindOS));
    EXPECT_EQ(Log().last(), "-> FIRMWARE FILE IS CORRUPT!  [ERROR]");
    EXPECT_TRUE(window->Flasher().PickImage(ImageClass::KindExt));
}

// Closing the window (or a signal, which closes it) while a package is unpacked stops the
// unpacking there; the load fails and the work folder goes.
TEST_F(FileLoadTest, ClosingDuringTheUnpackingStopsIt) {
    const QString package = Package("good.zip", os, ext);
    const QString work = window->WorkDirectory();
    // The first events handled inside the load are the unpacking's.
    QTimer::singleShot(0, window.get(), [&] { window->close(); });
    EXPECT_FALSE(window->LoadFirmwareFiles({package}));
    EXPECT_EQ(window->ZipComponent().SuccessCnt(), 0);
    EXPECT_EQ(Log().mid(1), (QStringList{Checking + "  [ERROR]",
                                         "[NOTE: THE PACKAGE DOES NOT HOLD THE TWO FIRMWARE "
                                         "IMAGES]"}));
    EXPECT_TRUE(window->Flasher().Images().IsEmpty());
    EXPECT_FALSE(QFileInfo::exists(work));
}

// With firmware loaded the download button, its menu and its tool tip are off; a right click
// there still offers another file.
TEST_F(FileLoadTest, AnotherFileStaysWithinReachOfTheMouse) {
    ASSERT_TRUE(window->LoadFirmwareFiles({Package("good.zip", os, ext)}));
    auto* button = window->findChild<QPushButton*>("btnWebFirmware");
    ASSERT_FALSE(button->isEnabled());
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    QStringList offered;
    QTimer::singleShot(200, window.get(), [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu)
            return;
        for (QAction* action : menu->actions())
            offered << action->text();
        menu->close();
        menu->actions().value(0)->trigger();
    });
    const QPoint at = button->rect().center();
    QContextMenuEvent click(QContextMenuEvent::Mouse, at, button->mapToGlobal(at));
    QApplication::sendEvent(button, &click);
    QTest::qWait(300);
    EXPECT_EQ(offered, QStringList{"Open firmware file\u2026"});
    EXPECT_EQ(dialogs, 1);
}

// A temporary folder that is no folder: the load says so, rather than that a file it never
// got to cannot be read.
TEST_F(FileLoadTest, AnUnusableTemporaryFolderIsNamed) {
    window.reset();
    const QString notAFolder = Write("tmp", "a file");
    TempFolderAt place(notAFolder);
    window = std::make_unique<CountingWindow>();
    EXPECT_FALSE(window->LoadFirmwareFiles({Package("good.zip", os, ext)}));
    ASSERT_EQ(Log().size(), 2);
    EXPECT_EQ(Log()[0], "-> LOADING FIRMWARE PACKAGE: good.zip  [ERROR]");
    EXPECT_EQ(Log()[1], "[NOTE: THE TEMPORARY FOLDER IS NOT USABLE: " +
                            QDir::toNativeSeparators(AddBackslash(notAFolder)) + "]");
    EXPECT_EQ(ReadFile(notAFolder), "a file");
}
