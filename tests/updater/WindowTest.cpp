#include "app/FileUtils.h"
#include "serial/TComComboBox.h"
#include "support/ForeignFolder.h"
#include "support/RecordingPresenter.h"
#include "updater/MonitorMemo.h"
#include "updater/TFQLXUpdate.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>
#include <QTimer>
#include <gtest/gtest.h>

#include <memory>
#include <utility>

namespace {
// The window never sees the machine's own serial ports here: it lists `ports`.
class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        TComSelect::SetPortSource([this](QStringList& list) { list = ports; });
        TestPresenter().boxes.clear();
        window = std::make_unique<TFQLXUpdate>();
    }
    void TearDown() override {
        window->close();
        window.reset();
        TComSelect::SetPortSource(nullptr);
    }
    QStringList ports;
    template <typename T> T* Find(const char* name) {
        auto* found = window->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    QString Panel(int i) {
        return Find<QLabel>(qPrintable(QStringLiteral("StatusPanel%1").arg(i)))->text();
    }
    QStringList Log() { return Find<MonitorMemo>("lstMonitor")->Lines(); }
    // As the platform delivers it: to the window, which hands it to its focused control.
    void PressKey(Qt::KeyboardModifiers modifiers) {
        QTest::keyClick(window->windowHandle(), Qt::Key_X, modifiers);
    }
    std::unique_ptr<TFQLXUpdate> window;
};
const auto EmergencyKeys = Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier;
} // namespace

TEST_F(WindowTest, ShowsTheLayoutsCaptionsAndInitialStates) {
    EXPECT_EQ(window->windowTitle(), "QLM Firmware Updater");
    EXPECT_EQ(window->size(), QSize(632, 419));
    EXPECT_EQ(window->minimumSize(), window->maximumSize());
    EXPECT_FALSE(window->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(window->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(window->windowFlags() & Qt::WindowCloseButtonHint);

    struct Text {
        const char* name;
        const char* text;
    } labels[] = {{"lblPort", "COMPort"},
                  {"lblCaption", "Quillmoor Firmware Updater"},
                  {"lblBlock", "Block: 0"},
                  {"lblTotalDev", "Total progress"},
                  {"lblProg", "0 %"},
                  {"Label1", "kelvaro"},
                  {"lblAbort", "DO NOT ABORT UPDATE PROCESS MANUALLY!"}};
    for (const auto& l : labels)
        EXPECT_EQ(Find<QLabel>(l.name)->text(), l.text) << l.name;

    EXPECT_EQ(Find<QGroupBox>("grpWeb")->title(), "Firmware webcheck (Vers.: n.a.)");
    EXPECT_EQ(Find<QGroupBox>("grpMonitor")->title(), "Monitor");
    EXPECT_EQ(Find<QPushButton>("btnWebFirmware")->text(), "Download web update");
    EXPECT_TRUE(Find<QPushButton>("btnWebFirmware")->isEnabled());
    EXPECT_EQ(Find<QPushButton>("btnOS")->text(), "Update Quillmoor");
    EXPECT_FALSE(Find<QPushButton>("btnOS")->isEnabled());
    EXPECT_EQ(Find<QPushButton>("btnClose")->text(), "&Close");
    EXPECT_EQ(Find<QProgressBar>("prgUpload")->value(), 0);
    EXPECT_EQ(Find<QPlainTextEdit>("Memo1")->toPlainText(),
              "Use this firmware updater for updating your QLM device.\n"
              "NOTE: You only need to update your QLM device if it is based on an older\n"
              "firmware version.\n");
    EXPECT_TRUE(Log().isEmpty());

    window->show();
    EXPECT_FALSE(Find<QLabel>("lblAbort")->isVisible());
    EXPECT_FALSE(Find<QPushButton>("btnExt")->isVisible());
    EXPECT_EQ(Find<QLabel>("imgDev")->geometry(), QRect(456, 51, 164, 212));
    EXPECT_EQ(Find<QPushButton>("btnOS")->geometry(), QRect(478, 269, 124, 25));
    EXPECT_EQ(Panel(0), "");
    EXPECT_EQ(Panel(1), "");
    EXPECT_EQ(Panel(2), "Version: 1.01");
    EXPECT_EQ(Find<QLabel>("StatusPanel2")->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignRight);
}

TEST_F(WindowTest, FocusOrderFollowsTheLayout) {
    Find<QPushButton>("btnOS")->setEnabled(true); // disabled at start, but it has its place
    QWidget* w = Find<QWidget>("ComComboBox");
    QStringList order;
    for (int i = 0; i < 5; ++i) {
        order << w->objectName();
        w = w->nextInFocusChain();
        while (w->focusPolicy() == Qt::NoFocus || !(w->focusPolicy() & Qt::TabFocus) ||
               !w->isEnabled() || w->isHidden() || w->window() != window.get())
            w = w->nextInFocusChain();
    }
    EXPECT_EQ(order,
              (QStringList{"ComComboBox", "btnWebFirmware", "lstMonitor", "btnOS", "btnClose"}));
}

TEST(WindowLocale, VersionReadsWithAPointUnderACommaLocaleAndTheLocaleStays) {
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    {
        TFQLXUpdate window;
        EXPECT_EQ(window.findChild<QLabel*>("StatusPanel2")->text(), "Version: 1.01");
    }
    EXPECT_EQ(QLocale().decimalPoint(), ",");
    QLocale::setDefault(saved);
}

TEST_F(WindowTest, MonitorLogAppendsAndExtendsTheLastLine) {
    window->AppendLine("-> AUTOSEARCH FOR QUILLMOOR DEVICE");
    window->ExtendLastLine("  [OK]");
    window->AppendLine(" ");
    window->AppendLine("- NAK -");
    EXPECT_EQ(Log(), (QStringList{"-> AUTOSEARCH FOR QUILLMOOR DEVICE  [OK]", " ", "- NAK -"}));
}

TEST_F(WindowTest, MonitorLogIsBoundedAndKeepsTheNewestLines) {
    for (int i = 0; i < 20000; ++i)
        window->AppendLine(QStringLiteral("- NAK - %1").arg(i));
    const QStringList log = Log();
    EXPECT_LE(log.size(), 5000);
    EXPECT_EQ(log.back(), "- NAK - 19999");
}

TEST_F(WindowTest, BusyStateDisablesCloseSelectorUpdateAndCaptionIconsAndIdleRestoresThem) {
    window->show();
    window->EnterBusyState();
    EXPECT_TRUE(Find<QLabel>("lblAbort")->isVisible());
    EXPECT_FALSE(window->CloseAllowed());
    EXPECT_FALSE(window->AbortFlag());
    EXPECT_FALSE(Find<QPushButton>("btnClose")->isEnabled());
    EXPECT_FALSE(Find<QComboBox>("ComComboBox")->isEnabled());
    EXPECT_FALSE(Find<QPushButton>("btnOS")->isEnabled());
    EXPECT_FALSE(window->windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(window->windowFlags() & Qt::WindowSystemMenuHint);
    EXPECT_TRUE(window->isVisible());

    Find<QLabel>("lblProg")->setText("42 %");
    window->LeaveBusyState();
    EXPECT_EQ(Find<QLabel>("lblProg")->text(), "0 %");
    EXPECT_FALSE(Find<QLabel>("lblAbort")->isVisible());
    EXPECT_TRUE(window->CloseAllowed());
    EXPECT_TRUE(window->AbortFlag());
    EXPECT_TRUE(Find<QPushButton>("btnClose")->isEnabled());
    EXPECT_TRUE(Find<QComboBox>("ComComboBox")->isEnabled());
    EXPECT_TRUE(window->windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_TRUE(window->isVisible());
    // No images were ever found, so the update button stays off.
    EXPECT_FALSE(Find<QPushButton>("btnOS")->isEnabled());
}

TEST_F(WindowTest, CloseRequestsWhileBusyAreRefusedWithoutMessage) {
    window->show();
    window->EnterBusyState();
    EXPECT_FALSE(window->close());
    window->btnCloseClick();
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->AbortFlag()); // an ordinary request does not stop the update
    EXPECT_TRUE(TestPresenter().boxes.isEmpty());
    window->LeaveBusyState();
}

TEST_F(WindowTest, EmergencyKeyWhileBusyAbortsFirstAndClosesSecond) {
    window->show();
    window->activateWindow();
    window->EnterBusyState();
    PressKey(EmergencyKeys);
    EXPECT_TRUE(window->AbortFlag());
    EXPECT_TRUE(window->isVisible());
    PressKey(EmergencyKeys);
    EXPECT_FALSE(window->isVisible());
}

TEST_F(WindowTest, HeldEmergencyKeyCountsAsOnePress) {
    window->show();
    window->activateWindow();
    window->EnterBusyState();
    PressKey(EmergencyKeys);
    QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : window.get();
    QKeyEvent repeat(QEvent::KeyPress, Qt::Key_X, EmergencyKeys, QStringLiteral("X"), true);
    QApplication::sendEvent(target, &repeat);
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(window->AbortFlag());
    window->LeaveBusyState();
}

// Windows delivers Ctrl+Alt+Shift+X with the text "X" (Ctrl+Alt is AltGr there); the key
// stops the update but types nothing into the focused Monitor log.
TEST_F(WindowTest, EmergencyKeyTypesNothingIntoTheFocusedLog) {
    window->show();
    window->AppendLine("- LINE -");
    window->EnterBusyState(); // no caption buttons
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    auto* log = Find<MonitorMemo>("lstMonitor");
    log->setFocus();
    ASSERT_EQ(QApplication::focusWidget(), log);
    QKeyEvent press(QEvent::KeyPress, Qt::Key_X, EmergencyKeys, QStringLiteral("X"));
    QApplication::sendEvent(log, &press);
    EXPECT_TRUE(window->AbortFlag());
    EXPECT_EQ(log->toPlainText(), "- LINE -");
    window->LeaveBusyState();
}

TEST_F(WindowTest, EmergencyKeyNeedsExactlyCtrlAltShift) {
    window->show();
    window->activateWindow();
    window->EnterBusyState();
    for (auto modifiers :
         {Qt::ControlModifier | Qt::ShiftModifier, Qt::ControlModifier | Qt::AltModifier,
          Qt::AltModifier | Qt::ShiftModifier, EmergencyKeys | Qt::MetaModifier}) {
        PressKey(modifiers);
        EXPECT_FALSE(window->AbortFlag());
        EXPECT_FALSE(window->CloseAllowed());
    }
    window->LeaveBusyState();
    PressKey(EmergencyKeys);
    EXPECT_FALSE(window->isVisible());
}

TEST_F(WindowTest, WorkDirectoryExistsWhileOpenAndIsRemovedAtClose) {
    const QString work = window->WorkDirectory();
    EXPECT_EQ(work, AddBackslash(QDir::toNativeSeparators(QDir::tempPath())) + "QLMUpdate");
    EXPECT_TRUE(QFileInfo(work).isDir());
    QFile f(work + "/QLMUpdate.zip");
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    window->show();
    EXPECT_TRUE(window->close());
    EXPECT_FALSE(QFileInfo::exists(work));
}

TEST_F(WindowTest, AKilledRunsImagesAreGoneAtTheNextStart) {
    const QString work = window->WorkDirectory();
    ASSERT_TRUE(QDir(work).mkdir("incoming")); // a file load was under way
    for (const auto& [name, size] : {std::pair{"QLM_OS.bin", 491516},
                                     {"QLM_EXT.bin", 98304},
                                     {"incoming/QLMUpdate.zip", 1000}}) {
        QFile f(work + "/" + name);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(size, 'o'));
    }
    window.reset(); // killed: no close handler ran
    window = std::make_unique<TFQLXUpdate>();
    EXPECT_EQ(window->WorkDirectory(), work);
    EXPECT_TRUE(QDir(work).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
}

TEST_F(WindowTest, AWorkDirectoryPlantedByAnotherUserIsLeftAlone) {
    const QString planted = window->WorkDirectory();
    window->close();
    window.reset();
    ASSERT_TRUE(QDir().mkpath(planted));
    QFile image(planted + "/QLM_OS.bin");
    ASSERT_TRUE(image.open(QIODevice::WriteOnly));
    image.write(QByteArray(491516, 'p'));
    image.close();
    if (!PlantForeignFolder(planted))
        GTEST_SKIP() << "cannot make a folder look like another user's here";

    window = std::make_unique<TFQLXUpdate>();
    const QString work = window->WorkDirectory();
    EXPECT_NE(work, planted);
    EXPECT_TRUE(work.startsWith(planted + "-"));
    EXPECT_TRUE(QFileInfo::exists(planted + "/QLM_OS.bin")); // not ours to empty
    window->show();
    EXPECT_TRUE(window->close());
    EXPECT_FALSE(QFileInfo::exists(work));
    QDir(planted).removeRecursively();
}

TEST_F(WindowTest, AQuickSecondRightClickOnTheDeviceUnlocksAgain) {
    window->show();
    auto* dev = Find<QLabel>("imgDev");
    const QPointF at(10, 10);
    auto send = [&](QEvent::Type type) {
        QMouseEvent event(type, at, dev->mapToGlobal(at), Qt::RightButton,
                          type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::RightButton,
                          Qt::NoModifier);
        QApplication::sendEvent(dev, &event);
    };
    // Two clicks 80 ms apart: the system delivers the second press as a double-click.
    send(QEvent::MouseButtonPress);
    send(QEvent::MouseButtonRelease);
    QTest::qWait(80);
    send(QEvent::MouseButtonDblClick);
    send(QEvent::MouseButtonRelease);
    EXPECT_FALSE(window->PortLock());
    EXPECT_EQ(Log(), (QStringList{"- LOCKING DEVICE -", "- UNLOCKING DEVICE -"}));
}

TEST_F(WindowTest, MonitorLogWrapsLongLinesInsteadOfScrollingSideways) {
    window->show();
    auto* log = Find<MonitorMemo>("lstMonitor");
    const QString line =
        "-> CHECKING FIRMWARE FILE  [OK] -> VERS.: " + QString(200, QLatin1Char('9'));
    window->AppendLine(line);
    QApplication::processEvents();
    EXPECT_EQ(log->horizontalScrollBar()->maximum(), 0);
    EXPECT_GT(log->document()->firstBlock().layout()->lineCount(), 1);
    EXPECT_EQ(Log(), QStringList{line});
}

TEST_F(WindowTest, RightClickOnTheDeviceTogglesThePortLockWhileIdle) {
    window->show();
    auto* dev = Find<QLabel>("imgDev");
    auto* selector = Find<QComboBox>("ComComboBox");
    auto* label = Find<QLabel>("lblPort");

    QTest::mouseClick(dev, Qt::RightButton);
    EXPECT_TRUE(window->PortLock());
    EXPECT_FALSE(selector->isEnabled());
    EXPECT_FALSE(label->isEnabled());
    QTest::mouseClick(dev, Qt::LeftButton); // repeats the state's line, changes nothing
    EXPECT_TRUE(window->PortLock());
    QTest::mouseClick(dev, Qt::RightButton);
    EXPECT_FALSE(window->PortLock());
    EXPECT_TRUE(selector->isEnabled());
    EXPECT_TRUE(label->isEnabled());
    EXPECT_EQ(Log(),
              (QStringList{"- LOCKING DEVICE -", "- LOCKING DEVICE -", "- UNLOCKING DEVICE -"}));

    // Busy: clicks do nothing; leaving the busy state enables the selector whatever the lock.
    QTest::mouseClick(dev, Qt::RightButton);
    window->EnterBusyState();
    QTest::mouseClick(dev, Qt::RightButton);
    EXPECT_TRUE(window->PortLock());
    EXPECT_EQ(Log().size(), 4);
    window->LeaveBusyState();
    EXPECT_TRUE(selector->isEnabled());
    EXPECT_FALSE(label->isEnabled());
    EXPECT_TRUE(window->PortLock());
}

namespace {
class NoticeTest : public WindowTest {
protected:
    void SetUp() override {
        ports = {"/dev/ttyUSB0", "/dev/ttyUSB1"};
        WindowTest::SetUp();
    }
};
} // namespace

TEST_F(NoticeTest, ArrivalRefillsSelectsFirstAndStartsTheSearchTimer) {
    auto* selector = Find<TComComboBox>("ComComboBox");
    auto* timer = Find<QTimer>("tmSearch");
    ports = {"/dev/ttyACM0", "/dev/ttyUSB1", "/dev/ttyUSB2"};
    selector->SetItemIndex(1);
    EXPECT_EQ(window->DeviceChange(0x8000), 1);
    EXPECT_EQ(selector->count(), 3);
    EXPECT_EQ(selector->Text(), "/dev/ttyACM0");
    EXPECT_TRUE(timer->isActive());
}

TEST_F(NoticeTest, RemovalRefillsSelectsLastAndStartsTheSearchTimer) {
    auto* selector = Find<TComComboBox>("ComComboBox");
    ports = {"/dev/ttyACM0", "/dev/ttyS4"};
    EXPECT_EQ(window->DeviceChange(0x8004), 1);
    EXPECT_EQ(selector->Text(), "/dev/ttyS4");
    EXPECT_TRUE(Find<QTimer>("tmSearch")->isActive());

    ports = {};
    Find<QTimer>("tmSearch")->stop();
    EXPECT_EQ(window->DeviceChange(0x8004), 1);
    EXPECT_EQ(selector->count(), 0);
    EXPECT_EQ(selector->Text(), "");
}

TEST_F(NoticeTest, LockedWindowIgnoresNoticesAndOtherCodesOnlyGetTheResult) {
    auto* selector = Find<TComComboBox>("ComComboBox");
    auto* timer = Find<QTimer>("tmSearch");
    EXPECT_EQ(window->DeviceChange(0x0007), 1);
    EXPECT_FALSE(timer->isActive());

    window->show();
    timer->stop();
    QTest::mouseClick(Find<QLabel>("imgDev"), Qt::RightButton);
    ports = {"/dev/ttyUSB9"};
    EXPECT_EQ(window->DeviceChange(0x8004), 0);
    EXPECT_EQ(window->DeviceChange(0x8000), 0);
    EXPECT_EQ(selector->count(), 2);
    EXPECT_FALSE(timer->isActive());
}
