// Claims on a port across owners, names, threads and processes.
#include "serial/PortClaim.h"
#include "ClaimPorts.h"
#include "serial/TComPort.h"
#include "support/ClaimHolder.h"

#include <future>
#include <gtest/gtest.h>
#include <thread>

namespace {

using Status = PortClaim::Status;

class PortClaimTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(ports->Name().isEmpty()); }

    // Another owner's attempt on name: refused as an open of a held port is.
    static void ExpectRefused(const QString& name) {
        PortClaim other;
        const PortClaim::Result result = other.Claim(name);
        EXPECT_EQ(result.status, Status::InUse) << name.toStdString();
        EXPECT_TRUE(TCustomComPort::InUseError(result.osError)) << result.osError;
        EXPECT_FALSE(other.Holds(result.device));
    }

    std::unique_ptr<ClaimPorts> ports = ClaimPorts::Make();
};

TEST_F(PortClaimTest, SecondOwnerIsRefusedUnderEveryNameOfTheDeviceUntilReleased) {
    PortClaim first;
    const PortClaim::Result held = first.Claim(ports->Name());
    ASSERT_EQ(held.status, Status::Claimed);
    EXPECT_TRUE(first.Holds(held.device));
    for (const QString& name : QStringList{ports->Name()} + ports->SameDevice()) {
        EXPECT_EQ(PortClaim::DeviceOf(name), held.device) << name.toStdString();
        ExpectRefused(name);
    }
    // Another device is free meanwhile.
    PortClaim other;
    const PortClaim::Result second = other.Claim(ports->OtherDevice());
    EXPECT_EQ(second.status, Status::Claimed);
    EXPECT_NE(second.device, held.device);

    first.Release(held.device);
    EXPECT_FALSE(first.Holds(held.device));
    for (const QString& name : ports->SameDevice()) {
        PortClaim later;
        const PortClaim::Result result = later.Claim(name);
        EXPECT_EQ(result.status, Status::Claimed) << name.toStdString();
        later.Release(result.device);
    }
}

TEST_F(PortClaimTest, OneOwnersNestedClaimsHoldUntilTheOutermostIsReleased) {
    PortClaim owner;
    const PortClaim::Result outer = owner.Claim(ports->Name());
    ASSERT_EQ(outer.status, Status::Claimed);
    const PortClaim::Result inner = owner.Claim(ports->SameDevice().front());
    ASSERT_EQ(inner.status, Status::Claimed);
    EXPECT_EQ(inner.device, outer.device);

    owner.Release(inner.device);
    EXPECT_TRUE(owner.Holds(outer.device));
    ExpectRefused(ports->Name());

    owner.Release(outer.device);
    EXPECT_FALSE(owner.Holds(outer.device));
    PortClaim next;
    EXPECT_EQ(next.Claim(ports->Name()).status, Status::Claimed);
}

TEST_F(PortClaimTest, OwnerThatEndsFreesItsClaims) {
    {
        PortClaim owner;
        ASSERT_EQ(owner.Claim(ports->Name()).status, Status::Claimed);
        ASSERT_EQ(owner.Claim(ports->Name()).status, Status::Claimed);
        ExpectRefused(ports->Name());
    }
    PortClaim next;
    EXPECT_EQ(next.Claim(ports->Name()).status, Status::Claimed);
}

TEST_F(PortClaimTest, NameOfNoDeviceIsLeftToTheOpen) {
    if (ports->NoDevice().isEmpty())
        GTEST_SKIP() << "every name stands for a port here";
    PortClaim owner;
    const PortClaim::Result result = owner.Claim(ports->NoDevice());
    EXPECT_EQ(result.status, Status::Unheld);
    EXPECT_TRUE(result.device.isEmpty());
}

// quillmoor-flash talks to each device on a thread of its own, each with its own owner; each
// releases on the thread that claimed.
TEST_F(PortClaimTest, OwnersOnTwoThreadsKeepEachOtherOut) {
    std::promise<Status> claimed;
    std::promise<void> release;
    std::promise<void> released;
    std::promise<void> mainHolds;
    std::promise<Status> after;
    std::thread other([&, name = ports->Name()] {
        PortClaim owner;
        const PortClaim::Result result = owner.Claim(name);
        claimed.set_value(result.status);
        release.get_future().wait();
        owner.Release(result.device);
        released.set_value();
        mainHolds.get_future().wait();
        PortClaim again;
        after.set_value(again.Claim(name).status);
    });
    const Status first = claimed.get_future().get();
    if (first == Status::Claimed)
        ExpectRefused(ports->Name());
    release.set_value();
    released.get_future().wait();
    PortClaim owner;
    const Status mine = owner.Claim(ports->Name()).status;
    mainHolds.set_value();
    const Status otherAfter = after.get_future().get();
    other.join();
    EXPECT_EQ(first, Status::Claimed);
    EXPECT_EQ(mine, Status::Claimed);
    EXPECT_EQ(otherAfter, Status::InUse);
}

TEST_F(PortClaimTest, ClaimOfAnotherProcessHoldsUntilThatProcessIsKilled) {
    ClaimHolder holder;
    ASSERT_EQ(holder.Start(ports->Name()), "claimed");
    for (const QString& name : QStringList{ports->Name()} + ports->SameDevice())
        ExpectRefused(name);
    holder.Kill();
    PortClaim after;
    const PortClaim::Result result = after.Claim(ports->SameDevice().back());
    EXPECT_EQ(result.status, Status::Claimed);

    // And this process's claim keeps the other process out, until released.
    ClaimHolder refused;
    EXPECT_EQ(refused.Start(ports->Name()), "in use");
    refused.Finish();
    after.Release(result.device);
    ClaimHolder next;
    EXPECT_EQ(next.Start(ports->Name()), "claimed");
}

} // namespace
