#include "FakeView.h"
#include "app/ErrorReport.h"
#include "flashing/DeviceFlasher.h"
#include "serial/TComPort.h"
#include "support/RecordingPresenter.h"
#include "support/SimDevice.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>
#include <memory>

namespace {

const QByteArray ProbeBytes = QByteArray::fromHex("24504F454D30362A31310D0A");

class ProbeSearchTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        port.SetEvents(evRxChar);
        port.OnRxChar = [this](TCustomComPort* sender, int count) {
            flasher.ComPort1RxChar(sender, count);
        };
        TestPresenter().boxes.clear();
    }

    QString Link(const QString& name) const { return TestPortName(dir, name); }

    std::unique_ptr<SimDevice> StartSim(const QString& name, const QStringList& args = {}) {
        auto sim = std::make_unique<SimDevice>(Link(name), QStringList{"--no-pace"} + args);
        EXPECT_TRUE(sim->Started()) << sim->ErrorOutput().toStdString();
        return sim;
    }

    // Runs op as a window handler does and gives its milliseconds.
    template <typename F> qint64 Timed(F&& op) {
        QElapsedTimer t;
        t.start();
        RunGuarded(op);
        return t.elapsed();
    }

    QTemporaryDir dir;
    TComPort port;
    FakeView view;
    DeviceFlasher flasher{port, view};
};

TEST_F(ProbeSearchTest, SearchFindsTheAnsweringPortAmongSilentOnes) {
    SilentPty a(Link("a")), b(Link("b")), d(Link("d"));
    auto sim = StartSim("c");
    // e does not exist: opening it would end the search with an error report.
    view.ports = ListPorts({Link("e"), d.Path(), sim->Path(), b.Path(), a.Path()});
    ASSERT_EQ(view.ports, (QStringList{Link("a"), Link("b"), Link("c"), Link("d"), Link("e")}));
    view.portText = Link("a");
    view.timerEnabled = true;

    bool completed = false;
    const qint64 ms = Timed([&] { completed = flasher.tmSearchTimer(); });

    EXPECT_TRUE(completed);
    EXPECT_TRUE(TestPresenter().boxes.isEmpty());
    EXPECT_FALSE(view.timerEnabled);
    EXPECT_EQ(view.lines, QStringList{"-> AUTOSEARCH FOR QUILLMOOR DEVICE  [OK]"});
    EXPECT_EQ(view.portText, sim->Path());
    EXPECT_EQ(view.cursorHistory, (QList<bool>{true, false}));
    // Each silent port heard the probe sentence once, exactly its 12 bytes; d never.
    EXPECT_EQ(a.Written(), ProbeBytes);
    EXPECT_EQ(b.Written(), ProbeBytes);
    EXPECT_EQ(d.Written(), QByteArray());
    // Two silent ports at about 850 ms each, then a quick answer.
    EXPECT_GE(ms, 2 * 850);
    EXPECT_LT(ms, 2 * 850 + 100 + 250 + 500);
    EXPECT_FALSE(port.Connected());
}

TEST_F(ProbeSearchTest, SilentPortCostsAbout850Milliseconds) {
    SilentPty silent(Link("s"));
    QString result = "unset";
    const qint64 ms = Timed([&] { result = flasher.ProbePort(true, silent.Path()); });
    EXPECT_EQ(result, "");
    EXPECT_EQ(view.lines, QStringList{"-> QUILLMOOR DOES NOT ANSWER!  [ERROR]"});
    EXPECT_GE(ms, 750);
    EXPECT_LT(ms, 1150); // generous: the machine may be busy
    EXPECT_FALSE(port.Connected());

    // With no name the selector's port is used and 250 ms more follow the close.
    view.portText = silent.Path();
    const qint64 unnamed = Timed([&] { result = flasher.ProbePort(false, QString()); });
    EXPECT_EQ(result, "");
    EXPECT_EQ(view.lines.size(), 1);
    EXPECT_GE(unnamed, 1000);
    EXPECT_LT(unnamed, 1400);
}

struct ReplyCase {
    const char* label;
    const char* reply; // as the simulator's --probe-reply takes it
    bool answered;
};

class ProbeReplyTest : public ProbeSearchTest, public ::testing::WithParamInterface<ReplyCase> {};

TEST_P(ProbeReplyTest, JudgesTheStartOfTheReply) {
    auto sim = StartSim("dev", {"--probe-reply", GetParam().reply});
    QString result = "unset";
    RunGuarded([&] { result = flasher.ProbePort(true, sim->Path()); });
    EXPECT_TRUE(TestPresenter().boxes.isEmpty());
    EXPECT_EQ(result, GetParam().answered ? "OK" : "");
    EXPECT_EQ(view.lines,
              QStringList{GetParam().answered ? "-> FOUND QUILLMOOR DEVICE  [OK]"
                                              : "-> QUILLMOOR DOES NOT ANSWER!  [ERROR]"});
}

INSTANTIATE_TEST_SUITE_P(
    Replies, ProbeReplyTest,
    ::testing::Values(
        ReplyCase{"ShortGsvUnder54Chars", "$GPGSV,1,1,00*79\\r\\n", true},
        ReplyCase{"LongRmc",
                  "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A\\r\\n",
                  true},
        ReplyCase{"MidSentence",
                  "4807.038,N,01131.000,E*6A\\r\\n$GPRMC,123519,A,4807.038,N*6A\\r\\n", false},
        ReplyCase{"Vtg", "$GPVTG,054.7,T,034.4,M,005.5,N,010.2,K*48\\r\\n", false},
        ReplyCase{"Poem101WithoutComma", "$POEM101*00\\r\\n", false}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(ProbeSearchTest, SelectorChangeProbesThePickedPort) {
    auto sim = StartSim("dev");
    view.ports = ListPorts({sim->Path()});
    view.portText = sim->Path();
    const qint64 ms = Timed([&] { flasher.ComComboBoxChange(); });
    EXPECT_EQ(view.lines, QStringList{"-> FOUND QUILLMOOR DEVICE  [OK]"});
    EXPECT_LT(ms, 600); // a talking device ends the wait early
    EXPECT_EQ(flasher.Activity(), DeviceActivity::Idle);
}

TEST_F(ProbeSearchTest, UnopenablePortEndsTheSearchWithTheErrorReport) {
    SilentPty a(Link("a")), c(Link("c"));
    view.ports = ListPorts({a.Path(), Link("b"), c.Path()});
    view.portText = a.Path();
    bool completed = false;
    RunGuarded([&] { completed = flasher.tmSearchTimer(); });

    EXPECT_FALSE(completed);
    ASSERT_EQ(TestPresenter().boxes.size(), 1);
    EXPECT_EQ(TestPresenter().boxes[0].icon, MessagePresenter::Icon::Error);
    EXPECT_TRUE(TestPresenter().boxes[0].text.startsWith("COM Port Error: "));
    // The port's name, then the system's reason; Wine opens a missing device's name and
    // fails on its settings, whose error has no reason after the name.
    const QString& text = TestPresenter().boxes[0].text;
    const QString named = " on " + Link("b");
    EXPECT_TRUE(text.contains(named + ": ") || text.endsWith(named + ".")) << text.toStdString();
    // The line ends as a search without a device, the selector is unchanged, the cursor is
    // back, c untouched.
    ASSERT_FALSE(view.lines.isEmpty());
    EXPECT_EQ(view.lines.first().toStdString(), "-> AUTOSEARCH FOR QUILLMOOR DEVICE  [NOT FOUND]");
    EXPECT_EQ(view.portText, a.Path());
    EXPECT_EQ(view.cursorHistory, (QList<bool>{true, false}));
    EXPECT_EQ(c.Written(), QByteArray());
    EXPECT_FALSE(port.Connected());
    EXPECT_EQ(flasher.Activity(), DeviceActivity::Idle);
}

TEST_F(ProbeSearchTest, ProbeWithoutNameOrSelectionRaisesTheOpenError) {
    view.portText.clear();
    QString result = "unset";
    RunGuarded([&] { result = flasher.ProbePort(true, QString()); });
    EXPECT_EQ(result, "unset");
    ASSERT_EQ(TestPresenter().boxes.size(), 1);
    EXPECT_TRUE(TestPresenter().boxes[0].text.startsWith("COM Port Error: "));
    EXPECT_TRUE(view.lines.isEmpty());
    EXPECT_FALSE(port.Connected());
}

TEST_F(ProbeSearchTest, NothingAnsweringLeavesTheSelection) {
    SilentPty a(Link("a"));
    view.ports = ListPorts({a.Path()});
    view.portText = a.Path();
    EXPECT_TRUE(flasher.tmSearchTimer());
    EXPECT_EQ(view.lines, QStringList{"-> AUTOSEARCH FOR QUILLMOOR DEVICE  [NOT FOUND]"});
    EXPECT_EQ(view.portText, a.Path());

    view.ports.clear();
    view.lines.clear();
    EXPECT_TRUE(flasher.tmSearchTimer());
    EXPECT_EQ(view.lines, QStringList{"-> AUTOSEARCH FOR QUILLMOOR DEVICE  [NOT FOUND]"});
}

// While a search runs, a second start is deferred until it ends and other device users
// are refused; once idle, a request starts the timer at once.
TEST_F(ProbeSearchTest, SecondSearchDuringASearchIsDeferredNotLost) {
    SilentPty a(Link("a"));
    auto sim = StartSim("b");
    view.ports = ListPorts({a.Path(), sim->Path()});
    view.portText = sim->Path();
    TFirmwareImage unused;

    bool nestedResult = true;
    QStringList linesDuringSearch;
    QTimer::singleShot(300, [&] {
        EXPECT_EQ(flasher.Activity(), DeviceActivity::Search);
        nestedResult = flasher.tmSearchTimer(); // the timer fired again
        flasher.RequestSearch();                // a device-change notice
        flasher.ComComboBoxChange();            // the user picks a port
        flasher.btnOSClick();                   // and clicks update
        flasher.btnExtClick();
        linesDuringSearch = view.lines;
    });
    EXPECT_TRUE(flasher.tmSearchTimer());

    EXPECT_FALSE(nestedResult);
    EXPECT_EQ(linesDuringSearch, QStringList{"-> AUTOSEARCH FOR QUILLMOOR DEVICE"});
    EXPECT_EQ(view.beeps, 3);
    EXPECT_EQ(view.lines, QStringList{"-> AUTOSEARCH FOR QUILLMOOR DEVICE  [OK]"});
    // The deferred search got its timer back when the first one ended.
    EXPECT_TRUE(view.timerEnabled);
    EXPECT_FALSE(flasher.SearchPending());
    EXPECT_EQ(flasher.Activity(), DeviceActivity::Idle);

    view.timerEnabled = false;
    flasher.RequestSearch();
    EXPECT_TRUE(view.timerEnabled);
    EXPECT_FALSE(flasher.SearchPending());
}

TEST_F(ProbeSearchTest, ReceiveEventWithoutDataStillCounts) {
    TReceiveState& rx = flasher.Link().Rx();
    rx.lastByte = 0x15;
    flasher.ComPort1RxChar(&port, 0);
    EXPECT_EQ(rx.eventCount, 1);
    EXPECT_EQ(rx.lastByte, 0x15);
    EXPECT_TRUE(rx.reply.isEmpty());
}

} // namespace
