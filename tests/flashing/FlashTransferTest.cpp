#include "FlashFixture.h"
#include "app/ErrorReport.h"

#include <QElapsedTimer>
#include <QTimer>

namespace {

struct PercentCase {
    int32_t offset;
    int32_t blockIndex;
    const char* text;
};

class PercentTest : public ::testing::TestWithParam<PercentCase> {};

TEST_P(PercentTest, RoundsHalvesAwayOverBothImages) {
    const PercentCase& c = GetParam();
    EXPECT_EQ(TFlashTransfer::PercentText(c.offset, c.blockIndex), c.text);
}

INSTANTIATE_TEST_SUITE_P(Blocks, PercentTest,
                         ::testing::Values(PercentCase{0, 0, "0 %"}, PercentCase{0, 1, "0 %"},
                                           PercentCase{0, 72, "13 %"},         // 12.5
                                           PercentCase{0, 216, "38 %"},        // 37.5
                                           PercentCase{0, 479, "83 %"},        // 83.16
                                           PercentCase{491516, 0, "83 %"},     // 83.33
                                           PercentCase{491516, 95, "100 %"})); // 99.83

TEST(RoundHalfAway, TruncatesAfterAddingAHalfAwayFromZero) {
    const std::pair<double, int> cases[] = {{0.0, 0},   {0.49, 0},  {0.5, 1},   {1.5, 2},
                                            {2.5, 3},   {12.5, 13}, {37.5, 38}, {99.83, 100},
                                            {-0.5, -1}, {-2.5, -3}, {-0.49, 0}};
    for (const auto& [x, rounded] : cases)
        EXPECT_EQ(TFlashTransfer::RoundHalfAway(x), rounded) << x;
}

class FlashTransferTest : public FlashFixture {
protected:
    // One transfer of the external image, as the update sequence runs it.
    bool FlashExt() {
        view.lines.clear();
        view.abort = false;
        bool ok = false;
        RunGuarded([&] {
            ASSERT_TRUE(flasher.PickImage(1));
            flasher.Transfer().SetProgressOffset(491516);
            ok = flasher.Transfer().FlashExtImage();
        });
        return ok;
    }
};

TEST_F(FlashTransferTest, DeliversTheImageWithEveryStepShown) {
    StartSim();
    EXPECT_TRUE(FlashExt());
    EXPECT_EQ(Received("ext.bin"), extFile);
    EXPECT_EQ(view.lines,
              (QStringList{"-> LOADING FIRMWARE FILE: QLM_EXT.bin  [OK]",
                           "-> STARTING EXT FLASH UPDATE  [OK]", "-> FLASHING CONFIRMED  [OK]"}));
    EXPECT_EQ(view.panel1, (QStringList{"Waiting for ACK...", "Received ACK", "OK"}));
    EXPECT_EQ(view.panel0, QStringList(96, "ACK"));
    EXPECT_EQ(view.blockText, "Block: 96");
    EXPECT_EQ(view.progressMax, 98304);
    EXPECT_EQ(view.progressPos, 98304);
    EXPECT_EQ(view.progressTexts.front(), "83 %");
    EXPECT_EQ(view.progressTexts.back(), "100 %");
    EXPECT_FALSE(port.Connected());
    EXPECT_EQ(port.BaudRate(), br115200);
    EXPECT_TRUE(TestPresenter().boxes.isEmpty());
}

TEST_F(FlashTransferTest, NakOnABlockResendsItOnce) {
    StartSim({"--nak-block", "5"});
    EXPECT_TRUE(FlashExt());
    EXPECT_EQ(CountLines("- NAK -"), 1);
    EXPECT_EQ(view.panel0.count("NAK"), 1);
    EXPECT_EQ(view.panel0.count("ACK"), 96);
    EXPECT_EQ(Received("ext.bin"), extFile);
}

TEST_F(FlashTransferTest, NakStormEndsInTimeout) {
    StartSim({"--nak-always", "3"});
    EXPECT_FALSE(FlashExt());
    EXPECT_EQ(view.lines.back(), "- TIMEOUT -");
    EXPECT_EQ(view.panel1.back(), "Timeout");
    EXPECT_EQ(CountLines("- NAK -"), 10); // every one of the ten events was a NAK
    EXPECT_EQ(view.blockText, "Block: 3");
    EXPECT_FALSE(port.Connected());
}

struct GarbageCase {
    const char* label;
    const char* garbage; // bytes before the block's ACK
    bool ok;
};

class GarbageBeforeAckTest : public FlashTransferTest,
                             public ::testing::WithParamInterface<GarbageCase> {};

TEST_P(GarbageBeforeAckTest, TenthReceiveEventIsATimeoutEvenIfItIsTheAck) {
    StartSim({"--garbage-block", GetParam().garbage, "--garbage-gap", "30"});
    EXPECT_EQ(FlashExt(), GetParam().ok);
    if (GetParam().ok) {
        EXPECT_EQ(view.lines.back(), "-> FLASHING CONFIRMED  [OK]");
    } else {
        EXPECT_EQ(view.lines.back(), "- TIMEOUT -");
        EXPECT_EQ(view.blockText, "Block: 4");
    }
}

INSTANTIATE_TEST_SUITE_P(Events, GarbageBeforeAckTest,
                         ::testing::Values(GarbageCase{"AckAsNinth", "4:8", true},
                                           GarbageCase{"AckAsTenth", "4:9", false}),
                         [](const auto& info) { return std::string(info.param.label); });

TEST_F(FlashTransferTest, CanPassesAddUpAcrossBlocks) {
    // Each CAN is followed by an ACK a moment later: the block goes through, but the pass
    // that saw the CAN counts, and the count runs over the whole image.
    StartSim({"--can-block", "2,3,4,5,6,7,8", "--can-ack-after", "2"});
    EXPECT_FALSE(FlashExt());
    EXPECT_EQ(view.lines.back(), "- ABORTED -");
    EXPECT_EQ(view.panel1.back(), "Aborted");
    // Not on the first CAN block, and at the latest on the fourth.
    EXPECT_TRUE(QStringList({"Block: 3", "Block: 4", "Block: 5"}).contains(view.blockText))
        << view.blockText.toStdString();
    EXPECT_FALSE(port.Connected());
}

TEST_F(FlashTransferTest, CanThatStaysTheLastByteAbortsAtOnce) {
    StartSim({"--can-block", "2"});
    EXPECT_FALSE(FlashExt());
    EXPECT_EQ(view.lines.back(), "- ABORTED -");
    EXPECT_EQ(view.blockText, "Block: 2");
}

TEST_F(FlashTransferTest, MissingConfirmationIsReportedButSucceeds) {
    // Ten single bytes, far enough apart that the pause after EOT holds only the first.
    StartSim({"--eot", "junk", "--garbage-gap", "280"});
    EXPECT_TRUE(FlashExt());
    EXPECT_EQ(view.lines.back(), "- No Confirmation! -");
    EXPECT_EQ(view.panel1.back(), "No Confirmation!");
    EXPECT_EQ(Received("ext.bin"), extFile);
}

TEST_F(FlashTransferTest, RefusedEotIsSentAgain) {
    StartSim({"--eot", "nak-first"});
    EXPECT_TRUE(FlashExt());
    EXPECT_GE(CountLines("- NAK -"), 1);
    EXPECT_EQ(view.lines.back(), "-> FLASHING CONFIRMED  [OK]");
    EXPECT_EQ(view.panel1.back(), "OK");
}

TEST_F(FlashTransferTest, SilentBootLoaderWaitsUntilTheAbortFlag) {
    StartSim({"--silent-boot"});
    QTimer::singleShot(1200, [&] { view.abort = true; }); // the emergency key
    QElapsedTimer t;
    t.start();
    EXPECT_FALSE(FlashExt());
    EXPECT_GE(t.elapsed(), 1200);
    EXPECT_LT(t.elapsed(), 1700);
    EXPECT_EQ(view.lines.back(), "- ABORTED -");
    EXPECT_EQ(view.panel1, (QStringList{"Waiting for ACK...", "Aborted"}));
    EXPECT_EQ(view.blockText, "Block: 0");
    EXPECT_FALSE(port.Connected());
}

TEST_F(FlashTransferTest, RaisedAbortFlagEndsTheHandshakeAfterTheEntrySentence) {
    StartSim();
    bool ok = true;
    RunGuarded([&] {
        ASSERT_TRUE(flasher.PickImage(1));
        view.abort = true;
        ok = flasher.Transfer().FlashExtImage();
    });
    EXPECT_FALSE(ok);
    EXPECT_EQ(view.lines.back(), "- ABORTED -");
    EXPECT_EQ(view.lines.at(view.lines.size() - 2), "-> STARTING EXT FLASH UPDATE");
}

TEST_F(FlashTransferTest, GarbageBeforeTheBootLoaderIsCountedNotTaken) {
    StartSim({"--garbage-boot", "5", "--garbage-gap", "10"});
    EXPECT_TRUE(FlashExt());
    EXPECT_EQ(Received("ext.bin"), extFile);
}

} // namespace
