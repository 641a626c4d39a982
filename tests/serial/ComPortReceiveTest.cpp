#include "PtyPair.h"
#include "serial/TComPort.h"
#include "support/RecordingPresenter.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>
#include <sched.h>
#include <set>
#include <stdexcept>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace {

// Records the handler calls of one port; by default the handler reads what it is told.
class ComPortReceiveTest : public ::testing::Test {
protected:
    void SetUp() override {
        TestPresenter().boxes.clear();
        port.SetPort(pty.SlavePath());
        port.OnRxChar = [this](TCustomComPort* sender, int count) {
            EXPECT_EQ(sender, &port);
            ++depth;
            EXPECT_EQ(depth, 1) << "handlers overlap";
            counts.push_back(count);
            struct Leave {
                int& depth;
                ~Leave() { --depth; }
            } leave{depth};
            if (onCall)
                onCall(count);
            else
                Read(count);
        };
    }

    void Read(int count) {
        QByteArray text;
        EXPECT_EQ(port.ReadText(text, count), count);
        received += text;
    }

    PtyPair pty;
    TComPort port;
    std::vector<int> counts;
    QByteArray received;
    std::function<void(int)> onCall;
    int depth = 0;
};

TEST_F(ComPortReceiveTest, ArrivalsReachTheHandlerInOrder) {
    port.Open();
    pty.Write("$GPGGA");
    ASSERT_TRUE(PumpUntil([&] { return received.size() == 6; }, 2000));
    pty.Write(",123");
    ASSERT_TRUE(PumpUntil([&] { return received.size() == 10; }, 2000));
    EXPECT_EQ(received, QByteArray("$GPGGA,123"));
    for (int count : counts)
        EXPECT_GT(count, 0);
}

TEST_F(ComPortReceiveTest, ArrivalsWhileTheWindowThreadSleepsComeAsOneCall) {
    port.Open();
    pty.Write("A");
    SleepMs(100); // the first notification is now waiting for the window thread
    pty.Write("B");
    SleepMs(20);
    pty.Write("CD");
    SleepMs(50);
    ASSERT_TRUE(PumpUntil([&] { return !counts.empty(); }, 2000));
    PumpFor(200); // a later notification finds nothing left and calls nobody
    EXPECT_EQ(counts, std::vector<int>{4});
    EXPECT_EQ(received, QByteArray("ABCD"));
}

TEST_F(ComPortReceiveTest, HandlerThatProcessesEventsIsNotEnteredAgain) {
    onCall = [&](int count) {
        Read(count);
        if (counts.size() == 1) {
            pty.Write("more");
            PumpFor(200); // the next arrival must wait until this call returns
        }
    };
    port.Open();
    pty.Write("first");
    ASSERT_TRUE(PumpUntil([&] { return received.size() == 9; }, 3000));
    EXPECT_EQ(received, QByteArray("firstmore"));
    EXPECT_EQ(counts.size(), 2u);
}

TEST_F(ComPortReceiveTest, CloseRunsTheNotificationOnItsWayBeforeReleasing) {
    const int threadsBefore = ThreadCount();
    bool closing = false;
    bool ranInClose = false;
    onCall = [&](int count) {
        ranInClose = closing;
        Read(count); // the device must still be open here
    };
    port.Open();
    pty.Write("xyz");
    SleepMs(200); // delivered by the receive thread, not yet run by the window thread
    closing = true;
    port.Close();
    closing = false;
    EXPECT_TRUE(ranInClose);
    EXPECT_EQ(received, QByteArray("xyz"));
    EXPECT_FALSE(port.Connected());
    EXPECT_EQ(ThreadCount(), threadsBefore);
    PumpFor(100); // the posted notification is spent
    EXPECT_EQ(counts.size(), 1u);
}

TEST_F(ComPortReceiveTest, HandlerMayCloseThePort) {
    onCall = [&](int count) {
        Read(count);
        port.Close();
    };
    port.Open();
    pty.Write("bye");
    ASSERT_TRUE(PumpUntil([&] { return !counts.empty(); }, 2000));
    EXPECT_FALSE(port.Connected());
    onCall = nullptr;
    port.Open(); // and the port works again afterwards
    pty.Write("again");
    ASSERT_TRUE(PumpUntil([&] { return received == "byeagain"; }, 2000));
}

TEST_F(ComPortReceiveTest, HandlerErrorEndsDeliveryUntilReopened) {
    onCall = [&](int) { throw std::runtime_error("handler failed"); };
    port.Open();
    pty.Write("1");
    ASSERT_TRUE(PumpUntil([&] { return !counts.empty(); }, 2000));
    ASSERT_TRUE(PumpUntil([&] { return port.ReceiveDetached(); }, 2000));
    onCall = nullptr;
    pty.Write("2");
    PumpFor(200);
    EXPECT_EQ(counts.size(), 1u);
    EXPECT_TRUE(port.Connected());
    EXPECT_TRUE(TestPresenter().boxes.isEmpty());

    port.Close();
    port.Open(); // the close discarded the queue; new bytes arrive again
    pty.Write("3");
    ASSERT_TRUE(PumpUntil([&] { return received == "3"; }, 2000));
}

// Bytes that nobody reads stay queued; they must not keep the receive thread busy, and the
// next arrival reports everything that is waiting.
TEST_F(ComPortReceiveTest, UnreadBytesDoNotSpin) {
    onCall = [](int) {};
    port.Open();
    pty.Write("12345");
    ASSERT_TRUE(PumpUntil([&] { return !counts.empty(); }, 2000));
    const double cpuBefore = ProcessCpuMs();
    PumpFor(1000);
    const double cpuMs = ProcessCpuMs() - cpuBefore;
    EXPECT_LT(cpuMs, 150.0);
    EXPECT_EQ(counts, std::vector<int>{5});
    pty.Write("678");
    ASSERT_TRUE(PumpUntil([&] { return counts.size() == 2; }, 2000));
    EXPECT_EQ(counts.back(), 8);
}

// The other side hangs up (pseudo-terminal master closed, USB adapter pulled): the port stays
// open, nothing more is delivered and the process stays idle; Close still works.
TEST_F(ComPortReceiveTest, HangUpStopsDeliveryWithoutSpinning) {
    const int threadsBefore = ThreadCount();
    port.Open();
    pty.Write("last");
    ASSERT_TRUE(PumpUntil([&] { return received == "last"; }, 2000));
    pty.HangUp();
    ASSERT_TRUE(PumpUntil([&] { return port.ReceiveDetached(); }, 2000));
    const double cpuBefore = ProcessCpuMs();
    PumpFor(1000);
    const double cpuMs = ProcessCpuMs() - cpuBefore;
    EXPECT_LT(cpuMs, 150.0);
    EXPECT_EQ(counts.size(), 1u);
    EXPECT_TRUE(port.Connected());
    EXPECT_TRUE(TestPresenter().boxes.isEmpty());
    port.Close();
    EXPECT_FALSE(port.Connected());
    EXPECT_EQ(ThreadCount(), threadsBefore);
}

TEST_F(ComPortReceiveTest, WithoutRxCharEventNoThreadRuns) {
    const int threadsBefore = ThreadCount();
    port.SetEvents(0);
    port.Open();
    EXPECT_EQ(ThreadCount(), threadsBefore);
    pty.Write("quiet");
    PumpFor(100);
    EXPECT_TRUE(counts.empty());
    EXPECT_EQ(port.WaitingCount(), 5);
}

// The receive thread asks for real-time round-robin scheduling at the highest level it may
// have; a user who may not have it keeps normal scheduling and a working port.
TEST_F(ComPortReceiveTest, ReceiveThreadRunsRealTimeWhereTheSystemGrantsIt) {
    const auto tasks = [] {
        std::set<pid_t> ids;
        for (const QString& name :
             QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
            ids.insert(name.toInt());
        return ids;
    };
    const std::set<pid_t> before = tasks();
    port.Open();
    std::vector<pid_t> added;
    for (pid_t id : tasks())
        if (!before.count(id))
            added.push_back(id);
    ASSERT_EQ(added.size(), 1u);
    // Whoever holds CAP_SYS_NICE may have any level; others up to RLIMIT_RTPRIO.
    QFile status(QStringLiteral("/proc/self/status"));
    ASSERT_TRUE(status.open(QIODevice::ReadOnly));
    bool mayNice = false;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("CapEff:"))
            mayNice = (line.mid(7).trimmed().toULongLong(nullptr, 16) >> 23) & 1;
    rlimit limit{};
    ASSERT_EQ(getrlimit(RLIMIT_RTPRIO, &limit), 0);
    const int highest = sched_get_priority_max(SCHED_RR);
    if (mayNice || limit.rlim_cur > 0) {
        // The thread sets its own scheduling as it starts.
        ASSERT_TRUE(PumpUntil([&] { return sched_getscheduler(added[0]) == SCHED_RR; }, 1000));
        sched_param param{};
        ASSERT_EQ(sched_getparam(added[0], &param), 0);
        EXPECT_EQ(param.sched_priority,
                  mayNice || limit.rlim_cur == RLIM_INFINITY
                      ? highest
                      : std::min<int>(highest, static_cast<int>(limit.rlim_cur)));
    } else {
        PumpFor(100);
        EXPECT_EQ(sched_getscheduler(added[0]), SCHED_OTHER);
    }
    pty.Write("ok");
    ASSERT_TRUE(PumpUntil([&] { return received == "ok"; }, 2000));
}

} // namespace
