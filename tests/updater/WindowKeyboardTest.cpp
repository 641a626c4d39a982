#include "serial/TComComboBox.h"
#include "support/RecordingPresenter.h"
#include "updater/MonitorMemo.h"
#include "updater/TFQLXUpdate.h"

#include <QApplication>
#include <QImage>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>

namespace {
const auto EmergencyKeys = Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier;

// The window shown and active, as the user finds it, with keys delivered the way the
// platform delivers them: to the window, which hands them to its focused control.
class WindowKeyboardTest : public ::testing::Test {
protected:
    void SetUp() override {
        TComSelect::SetPortSource([](QStringList& list) { list = {"/dev/ttyQLM0"}; });
        TestPresenter().boxes.clear();
        Open();
    }
    void TearDown() override {
        window->close();
        window.reset();
        TComSelect::SetPortSource(nullptr);
    }
    void Open() {
        window = std::make_unique<TFQLXUpdate>();
        window->show();
        // No search or web update may change the controls' states under the keys.
        Find<QTimer>("tmSearch")->stop();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }
    template <typename T = QWidget> T* Find(const char* name) {
        auto* found = window->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    void Press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::keyClick(window->windowHandle(), key, modifiers);
    }
    QString Focused() const {
        QWidget* focused = QApplication::focusWidget();
        return focused ? focused->objectName() : QStringLiteral("(none)");
    }
    MonitorMemo* Log() { return Find<MonitorMemo>("lstMonitor"); }
    void FillLog() {
        for (int i = 0; i < 200; ++i)
            window->AppendLine(QStringLiteral("-> LINE %1").arg(i));
        window->AppendLine("- QUILLMOOR HAS BEEN UPDATED -");
    }
    // The log looked at from its top, with the caret there, as after a click on its first line.
    void ScrollLogToTop() {
        QTextCursor start = Log()->textCursor();
        start.movePosition(QTextCursor::Start);
        Log()->setTextCursor(start);
        Log()->verticalScrollBar()->setValue(0);
    }
    void ExpectLogAtItsEnd(const char* how) {
        QScrollBar* bar = Log()->verticalScrollBar();
        EXPECT_GT(bar->maximum(), 0) << how;
        EXPECT_EQ(bar->value(), bar->maximum()) << how;
        EXPECT_TRUE(Log()->textCursor().atEnd()) << how;
    }
    std::unique_ptr<TFQLXUpdate> window;
};
} // namespace

TEST_F(WindowKeyboardTest, TabWalksTheEnabledControlsInOrderAndShiftTabWalksBack) {
    const struct {
        bool updateEnabled;
        QStringList order;
    } walks[] = {
        // At start: no firmware yet, so the update button is off and left out.
        {false, {"ComComboBox", "btnWebFirmware", "lstMonitor", "btnClose"}},
        {true, {"ComComboBox", "btnWebFirmware", "lstMonitor", "btnOS", "btnClose"}},
    };
    window->AppendLine("- LINE -");
    EXPECT_EQ(Focused(), "ComComboBox"); // where the focus is when the window opens
    for (const auto& walk : walks) {
        Find<QPushButton>("btnOS")->setEnabled(walk.updateEnabled);
        Find("ComComboBox")->setFocus(Qt::TabFocusReason);
        QStringList forward{Focused()};
        for (int i = 0; i < walk.order.size(); ++i) {
            Press(Qt::Key_Tab);
            forward << Focused();
        }
        EXPECT_EQ(forward, walk.order + QStringList{walk.order.first()});

        QStringList backward{Focused()};
        for (int i = 0; i < walk.order.size(); ++i) {
            Press(Qt::Key_Backtab, Qt::ShiftModifier);
            backward << Focused();
        }
        QStringList reversed{walk.order.first()};
        for (auto it = walk.order.crbegin(); it != walk.order.crend(); ++it)
            reversed << *it;
        EXPECT_EQ(backward, reversed);
    }
    EXPECT_EQ(Log()->toPlainText(), "- LINE -"); // no tab typed into it on the way
}

TEST_F(WindowKeyboardTest, TheLogShowsItsEndWhenItGetsTheFocus) {
    FillLog();
    Find<QPushButton>("btnOS")->setEnabled(true);

    const struct {
        const char* from;
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
    } ways[] = {{"btnWebFirmware", Qt::Key_Tab, Qt::NoModifier},
                {"btnOS", Qt::Key_Backtab, Qt::ShiftModifier}};
    for (const auto& way : ways) {
        Find(way.from)->setFocus(Qt::TabFocusReason);
        ScrollLogToTop();
        Press(way.key, way.modifiers);
        ASSERT_EQ(Focused(), "lstMonitor") << way.from;
        ExpectLogAtItsEnd(way.from);
    }

    // The update button was pressed, and the window turns busy after a web update: the
    // focus falls back into the log, where a Tab must neither type nor scroll it away.
    Find("btnOS")->setFocus(Qt::MouseFocusReason);
    Find("btnWebFirmware")->setEnabled(false);
    ScrollLogToTop();
    window->EnterBusyState();
    ASSERT_EQ(Focused(), "lstMonitor");
    ExpectLogAtItsEnd("the update button going off");
    Press(Qt::Key_Tab);
    ExpectLogAtItsEnd("Tab while busy");
    EXPECT_EQ(Log()->LastLine(), "- QUILLMOOR HAS BEEN UPDATED -");
    window->LeaveBusyState();
}

TEST_F(WindowKeyboardTest, ReturnAndEnterPressTheFocusedButton) {
    const struct {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
    } keys[] = {{Qt::Key_Return, Qt::NoModifier}, {Qt::Key_Enter, Qt::KeypadModifier}};
    for (const auto& k : keys) {
        // The download button opens its menu.
        auto* web = Find<QPushButton>("btnWebFirmware");
        web->setFocus(Qt::TabFocusReason);
        bool menuOpened = false;
        QTimer::singleShot(0, window.get(), [&] {
            menuOpened = QApplication::activePopupWidget() == web->menu();
            web->menu()->close();
        });
        Press(k.key, k.modifiers);
        EXPECT_TRUE(menuOpened) << k.key;

        // Close closes the window.
        Find("btnClose")->setFocus(Qt::TabFocusReason);
        Press(k.key, k.modifiers);
        EXPECT_FALSE(window->isVisible()) << k.key;
        Open();
    }
}

// The mark is drawn where a user looks for it: in and just around the control. It must
// change a ring's worth of pixels at a contrast of at least 3:1.
TEST_F(WindowKeyboardTest, EveryFocusableControlShowsAClearFocusMark) {
    Find<QPushButton>("btnOS")->setEnabled(true);
    window->AppendLine("- LINE -");
    auto luminance = [](QRgb c) {
        auto channel = [](int v) {
            const double s = v / 255.0;
            return s <= 0.03928 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * channel(qRed(c)) + 0.7152 * channel(qGreen(c)) + 0.0722 * channel(qBlue(c));
    };
    auto render = [&](QWidget* control) {
        const QRect area(control->mapTo(window.get(), QPoint(0, 0)), control->size());
        return window->grab(area.adjusted(-4, -4, 4, 4))
            .toImage()
            .convertToFormat(QImage::Format_RGB32);
    };
    for (const char* name : {"ComComboBox", "btnWebFirmware", "lstMonitor", "btnOS", "btnClose"}) {
        QWidget* control = Find(name);
        // Away to a control far from this one.
        Find(control == Find("btnClose") ? "btnWebFirmware" : "btnClose")->setFocus();
        const QImage without = render(control);
        control->setFocus(Qt::TabFocusReason);
        ASSERT_EQ(Focused(), name);
        const QImage with = render(control);
        ASSERT_EQ(with.size(), without.size());
        int clear = 0;
        for (int y = 0; y < with.height(); ++y) {
            for (int x = 0; x < with.width(); ++x) {
                const double a = luminance(with.pixel(x, y));
                const double b = luminance(without.pixel(x, y));
                if ((std::max(a, b) + 0.05) / (std::min(a, b) + 0.05) >= 3.0)
                    ++clear;
            }
        }
        EXPECT_GE(clear, 3 * (control->width() + control->height())) << name;
    }
}

// Switching the caption icons must leave the window active with a focused control, so that
// a key still finds the window's key handling, during an update and after it.
TEST_F(WindowKeyboardTest, EmergencyKeyWorksThroughTheFocusedControlAcrossBusySwitches) {
    auto* update = Find<QPushButton>("btnOS");
    update->setEnabled(true);
    update->setFocus(Qt::MouseFocusReason); // as clicked
    Find("btnWebFirmware")->setEnabled(false);

    window->EnterBusyState();
    EXPECT_EQ(QApplication::activeWindow(), window.get());
    EXPECT_EQ(Focused(), "lstMonitor");
    Press(Qt::Key_X, EmergencyKeys);
    EXPECT_TRUE(window->AbortFlag());
    EXPECT_TRUE(window->isVisible());
    window->LeaveBusyState();

    EXPECT_EQ(QApplication::activeWindow(), window.get());
    EXPECT_EQ(Focused(), "lstMonitor");
    Press(Qt::Key_X, EmergencyKeys);
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(Log()->toPlainText(), ""); // nothing typed
    EXPECT_TRUE(TestPresenter().boxes.isEmpty());
}
