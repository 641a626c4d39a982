#include "flashing/AnswerLedger.h"
#include "flashing/DeviceProtocol.h"

#include <gtest/gtest.h>

namespace {

using DeviceProtocol::ACK;
using DeviceProtocol::NAK;

constexpr int Packet = 1028;
const double LineMs = AnswerTiming::LineMs(Packet); // 89.2 ms

class AnswerLedgerTest : public ::testing::Test {
protected:
    // One block answered at once by a port with a line behind it, so the timing knows it.
    void LearnLine(double ackLatencyMs) {
        ledger.Start(Packet, false);
        ledger.Sent(0);
        ledger.Take(ACK, ackLatencyMs);
        ASSERT_TRUE(ledger.Settled(ackLatencyMs));
    }

    AnswerTiming timing;
    AnswerLedger ledger{timing};
};

TEST_F(AnswerLedgerTest, AnnouncementsAfterTheFirstBlockAreNoAnswer) {
    ledger.Start(Packet, true);
    ledger.Sent(1000);
    ledger.Take(NAK, 1150); // written by the boot loader before it saw the block
    ledger.Take(NAK, 1200);
    EXPECT_FALSE(ledger.ResendDue(1210, NAK));
    EXPECT_EQ(ledger.Unanswered(), 1);
    ledger.Take(ACK, 1389);
    EXPECT_TRUE(ledger.Accepted());
    EXPECT_TRUE(ledger.Settled(1389));
}

TEST_F(AnswerLedgerTest, AnnouncedNakFollowedBySilenceSendsAgainAndWaitsForBothAnswers) {
    ledger.Start(Packet, true);
    ledger.Sent(0);
    ledger.Take(NAK, 300); // the block's own refusal, or an announcement: no telling
    const double lost = 300 + timing.LostAfterMs(Packet);
    EXPECT_FALSE(ledger.ResendDue(lost - 1, NAK));
    EXPECT_TRUE(ledger.ResendDue(lost, NAK));
    ledger.Sent(lost);
    ledger.Take(ACK, lost + 389);
    EXPECT_TRUE(ledger.Accepted());
    // The first copy may still be answered: the next block waits until that can be ruled out.
    EXPECT_FALSE(ledger.Settled(lost + 400));
    ledger.Take(ACK, lost + 500);
    EXPECT_TRUE(ledger.Settled(lost + 500));
}

TEST_F(AnswerLedgerTest, NakBeforeTheBlockCanHaveLeftTheLineIsNotItsAnswer) {
    LearnLine(LineMs + 0.5);
    ledger.Start(Packet, false);
    ledger.Sent(1000);
    ledger.Take(NAK, 1000 + LineMs / 2);
    EXPECT_FALSE(ledger.ResendDue(1000 + LineMs, NAK));
    ledger.Take(NAK, 1000 + LineMs + 1);
    EXPECT_TRUE(ledger.ResendDue(1000 + LineMs + 1, NAK));
}

TEST_F(AnswerLedgerTest, PortWithoutALineTakesAnswersAtOnceOnceAnAckShowedIt) {
    ledger.Start(Packet, false);
    ledger.Sent(0);
    ledger.Take(ACK, 6); // before the line time: a pseudo-terminal, slow this once
    EXPECT_TRUE(ledger.Settled(6));
    EXPECT_EQ(timing.EarliestMs(Packet), 0);
    ledger.Start(Packet, false);
    ledger.Sent(10);
    ledger.Take(NAK, 10.3);
    EXPECT_TRUE(ledger.ResendDue(10.3, NAK));
    ledger.Sent(20);
    ledger.Take(ACK, 20.1);
    EXPECT_TRUE(ledger.Settled(20.1));
}

TEST_F(AnswerLedgerTest, AnswersGoToTheOldestCopyAndTheNextBlockWaitsForTheRest) {
    LearnLine(LineMs + 20);
    ledger.Start(Packet, false);
    ledger.Sent(0);
    ledger.Take(NAK, 110);
    ASSERT_TRUE(ledger.ResendDue(110, NAK));
    ledger.Sent(110);
    // The second copy's answer is lost: a third goes after the answer's longest time.
    const double third = 110 + timing.LostAfterMs(Packet);
    ASSERT_TRUE(ledger.ResendDue(third, NAK));
    ledger.Sent(third);
    ledger.Take(ACK, third + 10); // the second copy's, late
    EXPECT_TRUE(ledger.Accepted());
    EXPECT_FALSE(ledger.Settled(third + 10));
    EXPECT_EQ(ledger.Unanswered(), 1);
    ledger.Take(ACK, third + 110);
    EXPECT_TRUE(ledger.Settled(third + 110));
}

TEST_F(AnswerLedgerTest, LateAnswersLengthenTheTimeBeforeOneIsGivenUp) {
    const double quick = timing.LostAfterMs(Packet);
    LearnLine(LineMs + 300);
    EXPECT_NEAR(timing.LostAfterMs(Packet), quick + 300, 0.01);
    EXPECT_NEAR(timing.EarliestMs(Packet), LineMs - AnswerTiming::JitterMs, 0.01);
}

TEST_F(AnswerLedgerTest, JunkIsNoAnswer) {
    ledger.Start(Packet, false);
    ledger.Sent(0);
    ledger.Take('x', 50);
    EXPECT_FALSE(ledger.Accepted());
    EXPECT_EQ(ledger.Unanswered(), 1);
    EXPECT_FALSE(ledger.ResendDue(5000, 'x')); // only a NAK asks for the block again
}

} // namespace
