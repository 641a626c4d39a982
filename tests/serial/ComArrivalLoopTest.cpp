// The receive loop that learns of arrivals by a one-byte read, against a scripted device: the
// cases a real driver shows rarely or never under test (reads that fail, a cancel that never
// ends, a device that vanishes).
#include "serial/TComArrivalLoop.h"

#include <QByteArray>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Device = TComArrivalLoop::Device;

// A device with a receive queue and one read at a time. A pending read takes the first byte
// that arrives; failures and a cancel that never ends are set by the test.
class ScriptedDevice : public Device {
public:
    // Test side.
    void Arrive(const QByteArray& bytes) {
        std::lock_guard guard(lock_);
        for (char c : bytes)
            queue_.push_back(c);
        TakeIntoRead();
        changed_.notify_all();
    }
    void Stop() {
        std::lock_guard guard(lock_);
        stop_ = true;
        changed_.notify_all();
    }
    // The next count reads end at once with a failure; arrival comes right after each.
    void FailReads(int count, const QByteArray& arrival = {}) {
        std::lock_guard guard(lock_);
        failing_ = count;
        afterFailure_ = arrival;
    }
    void Vanish() {
        std::lock_guard guard(lock_);
        gone_ = true;
        if (pending_ && !ended_)
            End(Outcome::Failed);
        changed_.notify_all();
    }
    void CancelNeverEnds() {
        std::lock_guard guard(lock_);
        cancelHangs_ = true;
    }
    // While held, the loop's waits do not return, though the read may end.
    void HoldWaits(bool hold) {
        std::lock_guard guard(lock_);
        holdWaits_ = hold;
        changed_.notify_all();
    }
    QByteArray ReadQueue() {
        std::lock_guard guard(lock_);
        QByteArray bytes;
        for (char c : queue_)
            bytes.append(c);
        queue_.clear();
        return bytes;
    }
    bool ReadEnded() {
        std::lock_guard guard(lock_);
        return pending_ && ended_;
    }
    int starts = 0;
    int pollWaits = 0; // timed waits with no read pending
    int finishesAfterUnendedCancel = 0;
    int cancelBound = 0;

    // The loop's side.
    bool Start() override {
        std::lock_guard guard(lock_);
        ++starts;
        if (pending_)
            ADD_FAILURE() << "a read started while one was pending";
        pending_ = true;
        ended_ = false;
        if (failing_ > 0) {
            --failing_;
            End(Outcome::Failed);
            for (char c : afterFailure_)
                queue_.push_back(c);
            return true;
        }
        TakeIntoRead();
        return true;
    }
    Wake Wait(bool request, int timeoutMs) override {
        std::unique_lock guard(lock_);
        if (!request)
            ++pollWaits;
        auto ready = [&] { return stop_ || (!holdWaits_ && request && ended_); };
        if (timeoutMs < 0)
            changed_.wait(guard, ready);
        else if (!changed_.wait_for(guard, std::chrono::milliseconds(timeoutMs), ready))
            return Wake::Timeout;
        return stop_ ? Wake::Stop : Wake::Ended;
    }
    Outcome Finish(char& byte) override {
        std::lock_guard guard(lock_);
        if (unendedCancel_)
            ++finishesAfterUnendedCancel;
        if (!pending_ || !ended_)
            ADD_FAILURE() << "finished a read that had not ended";
        pending_ = false;
        byte = byte_;
        return outcome_;
    }
    bool Cancel(int boundMs) override {
        std::lock_guard guard(lock_);
        cancelBound = boundMs;
        if (cancelHangs_) {
            unendedCancel_ = true;
            return false;
        }
        if (pending_ && !ended_)
            End(Outcome::Failed); // the operation was aborted
        return true;
    }
    long long Queued() override {
        std::lock_guard guard(lock_);
        return gone_ ? -1 : static_cast<long long>(queue_.size());
    }

private:
    void End(Outcome outcome) {
        outcome_ = outcome;
        ended_ = true;
        changed_.notify_all();
    }
    void TakeIntoRead() {
        if (pending_ && !ended_ && !queue_.empty() && !cancelHangs_) {
            byte_ = queue_.front();
            queue_.pop_front();
            End(Outcome::Byte);
        }
    }

    std::mutex lock_;
    std::condition_variable changed_;
    std::deque<char> queue_;
    bool stop_ = false, pending_ = false, ended_ = false, gone_ = false;
    bool cancelHangs_ = false, unendedCancel_ = false, holdWaits_ = false;
    int failing_ = 0;
    QByteArray afterFailure_;
    Outcome outcome_ = Outcome::Nothing;
    char byte_ = 0;
};

// The loop on a thread of its own; each arrival's handler reads what waits (unless told not to),
// as the port's handler does, on the loop's thread.
class LoopRig {
public:
    ~LoopRig() { StopLoop(); }
    void StartLoop() {
        started = Clock::now();
        runner = std::thread([this] {
            TComArrivalLoop loop(
                device, ahead, [this] { return Deliver(); }, wakeups);
            end = loop.Run();
            ended = true;
        });
    }
    void StopLoop() {
        device.Stop();
        if (runner.joinable())
            runner.join();
    }
    // Waits up to ms for condition, checked with the handler's lock.
    template <class F> bool Within(int ms, F condition) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
        for (;;) {
            {
                std::lock_guard guard(lock);
                if (condition())
                    return true;
            }
            if (Clock::now() >= deadline)
                return false;
            std::this_thread::sleep_for(1ms);
        }
    }
    // Poll intervals since the loop started, rounded up.
    long long PollsSinceStart() const {
        const auto ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count();
        return ms / TComArrivalLoop::PollMs + 1;
    }
    void ReadInHandler(bool read) {
        std::lock_guard guard(lock);
        readInHandler = read;
    }

    ScriptedDevice device;
    TComReadAhead ahead;
    std::atomic<long long> wakeups{0};
    std::atomic<bool> ended{false};
    TComArrivalLoop::End end = TComArrivalLoop::End::Stopped;
    std::mutex lock;
    QByteArray received;
    int deliveries = 0;

private:
    bool Deliver() {
        std::lock_guard guard(lock);
        ++deliveries;
        if (readInHandler) {
            auto turn = ahead.Lock();
            received += ahead.Take(ahead.Size());
            received += device.ReadQueue();
        }
        return true;
    }

    std::thread runner;
    Clock::time_point started;
    bool readInHandler = true;
};

TEST(ComArrivalLoop, IdleDeviceKeepsOneReadPendingAndNeverWakes) {
    LoopRig rig;
    rig.StartLoop();
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(rig.wakeups, 0);
    EXPECT_EQ(rig.device.starts, 1);
    rig.device.Arrive("$GP");
    ASSERT_TRUE(rig.Within(1000, [&] { return rig.received == "$GP"; }));
    EXPECT_EQ(rig.wakeups, 1);
}

// Some drivers end the read without a byte now and then: each such read starts again at once,
// so a byte that arrives right after it is reported; only after repeated failures does the
// loop wait a poll interval before each new read, and even then nothing is lost.
TEST(ComArrivalLoop, ByteRightAfterFailedReadsIsReported) {
    const int cases[] = {1, 3, TComArrivalLoop::MissesBeforePolling + 3};
    for (int failures : cases) {
        SCOPED_TRACE(failures);
        LoopRig rig;
        rig.device.FailReads(failures, "x");
        rig.StartLoop();
        ASSERT_TRUE(rig.Within(2000, [&] { return rig.received.size() == failures; }));
        EXPECT_EQ(rig.received, QByteArray(failures, 'x'));
        EXPECT_EQ(rig.device.pollWaits,
                  std::max(0, failures - TComArrivalLoop::MissesBeforePolling + 1));
        rig.device.Arrive("y");
        ASSERT_TRUE(rig.Within(1000, [&] { return rig.received.endsWith("y"); }));
        rig.StopLoop();
        EXPECT_EQ(rig.end, TComArrivalLoop::End::Stopped);
    }
}

TEST(ComArrivalLoop, DeviceThatFailsEveryReadCostsAWakeUpPerPollInterval) {
    LoopRig rig;
    rig.device.FailReads(1 << 30);
    rig.StartLoop();
    std::this_thread::sleep_for(300ms);
    // Each poll interval: the timed wait, then the read that fails at once.
    const long long bound = TComArrivalLoop::MissesBeforePolling + 2 * rig.PollsSinceStart();
    EXPECT_LE(rig.wakeups, bound);
    rig.device.FailReads(0);
    rig.device.Arrive("z");
    ASSERT_TRUE(rig.Within(1000, [&] { return rig.received == "z"; }));
}

TEST(ComArrivalLoop, VanishedDeviceEndsTheLoopAsGone) {
    LoopRig rig;
    rig.StartLoop();
    std::this_thread::sleep_for(20ms);
    rig.device.Vanish();
    ASSERT_TRUE(rig.Within(1000, [&] { return rig.ended.load(); }));
    EXPECT_EQ(rig.end, TComArrivalLoop::End::Gone);
    EXPECT_EQ(rig.deliveries, 0);
}

// A driver that never ends a cancelled read: the window thread's claim fails instead of
// reading past it, the loop ends all the same within the bound, and nothing takes a result
// from that read (its memory stays the device's).
TEST(ComArrivalLoop, ReadThatNeverEndsAfterItsCancelDoesNotHoldTheEnd) {
    LoopRig rig;
    rig.StartLoop();
    std::this_thread::sleep_for(20ms);
    rig.device.CancelNeverEnds();
    {
        bool claimed = true;
        auto turn = rig.ahead.Claim(claimed);
        EXPECT_FALSE(claimed);
    }
    const auto stopping = Clock::now();
    rig.StopLoop();
    EXPECT_LT(Clock::now() - stopping, 1s);
    EXPECT_EQ(rig.device.cancelBound, TComArrivalLoop::CancelBoundMs);
    EXPECT_EQ(rig.device.finishesAfterUnendedCancel, 0);
}

// The window thread reads by itself while the loop's read has taken a byte it has not yet
// reported: that byte comes first in the window thread's read and is not reported again.
TEST(ComArrivalLoop, WindowThreadsReadTakesTheReadsByteFirst) {
    LoopRig rig;
    rig.StartLoop();
    std::this_thread::sleep_for(20ms);
    rig.device.HoldWaits(true);
    rig.device.Arrive("ABC");
    ASSERT_TRUE(rig.Within(1000, [&] { return rig.device.ReadEnded(); }));
    QByteArray read;
    {
        bool claimed = false;
        auto turn = rig.ahead.Claim(claimed);
        ASSERT_TRUE(claimed);
        read = rig.ahead.Take(10) + rig.device.ReadQueue();
    }
    EXPECT_EQ(read, "ABC");
    rig.device.HoldWaits(false);
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(rig.deliveries, 0);
    rig.device.Arrive("D");
    ASSERT_TRUE(rig.Within(1000, [&] { return rig.received == "D"; }));
}

// A handler that leaves the bytes unread: no read runs past them, growth of the queue is
// reported, and reading resumes once they are taken.
TEST(ComArrivalLoop, UnreadBytesAreNotReadPastAndNewsIsReported) {
    LoopRig rig;
    rig.ReadInHandler(false);
    rig.StartLoop();
    rig.device.Arrive("A");
    ASSERT_TRUE(rig.Within(1000, [&] { return rig.deliveries == 1; }));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(rig.deliveries, 1); // nothing new
    EXPECT_LE(rig.wakeups, 1 + rig.PollsSinceStart());
    rig.device.Arrive("B");
    ASSERT_TRUE(rig.Within(1000, [&] { return rig.deliveries == 2; }));
    EXPECT_EQ(rig.device.Queued(), 1); // B stays in the device's queue
    {
        auto turn = rig.ahead.Lock();
        EXPECT_EQ(rig.ahead.Take(10), "A");
    }
    rig.ReadInHandler(true);
    ASSERT_TRUE(rig.Within(1000, [&] { return rig.received == "B"; }));
}

} // namespace
