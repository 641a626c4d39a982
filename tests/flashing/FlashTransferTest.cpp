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
    // One transfer of an image, as the update sequence runs it.
    bool FlashExt() { return Flash(ImageClass::KindExt); }
    bool FlashOS() { return Flash(ImageClass::KindOS); }

    bool Flash(int kind) {
        view.lines.clear();
        view.abort = false;
        bool ok = false;
        RunGuarded([&] {
            ASSERT_TRUE(flasher.PickImage(kind));
            TFlashTransfer& transfer = flasher.Transfer();
            if (kind == ImageClass::KindExt) {
                transfer.SetProgressOffset(DeviceFlasher::ExtProgressOffset);
                ok = transfer.FlashExtImage();
            } else {
                transfer.SetProgressOffset(0);
                ok = transfer.FlashOSImage();
            }
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

struct AnsweredNakCase {
    const char* label;
    const char* args;
    int panelNaks; // the EOT wait leaves the panel alone
};

class AnsweredNakTest : public FlashTransferTest,
                        public ::testing::WithParamInterface<AnsweredNakCase> {};

TEST_P(AnsweredNakTest, IsResentExactlyOnce) {
    StartSim(QString(GetParam().args).split(' '));
    EXPECT_TRUE(FlashExt());
    EXPECT_EQ(CountLines("- NAK -"), 1);
    EXPECT_EQ(view.panel0.count("NAK"), GetParam().panelNaks);
    EXPECT_EQ(view.panel0.count("ACK"), 96);
    EXPECT_EQ(view.lines.back(), "-> FLASHING CONFIRMED  [OK]");
    EXPECT_EQ(view.panel1.back(), "OK");
    EXPECT_EQ(Received("ext.bin"), extFile);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, AnsweredNakTest,
    ::testing::Values(AnsweredNakCase{"BlockRefusedOnce", "--nak-block 5", 1},
                      // One receive event: the NAK is its first byte, the ACK stays unseen.
                      AnsweredNakCase{"NakAndAckTogether", "--nak-ack-burst 5", 1},
                      AnsweredNakCase{"EotRefusedOnce", "--eot nak-first", 0}),
    [](const auto& info) { return std::string(info.param.label); });

// The device's answers after a NAK are lost for a while (or for good): the NAK already
// answered stays the last byte, and the copy is sent again only about once a second, not on
// every pass.
struct LostAnswerCase {
    const char* label;
    const char* args;
    bool ok;
    const char* lastLine;
};

class LostAnswerTest : public FlashTransferTest,
                       public ::testing::WithParamInterface<LostAnswerCase> {};

TEST_P(LostAnswerTest, IsAskedForAgainAboutOnceASecond) {
    constexpr int SilenceMs = 3000;
    StartSim(QString(GetParam().args).split(' '));
    LimitSilence(SilenceMs, SilenceMs);
    ArmWatchdog(60000);
    EXPECT_EQ(FlashExt(), GetParam().ok);
    EXPECT_FALSE(watchdogFired);
    EXPECT_EQ(view.lines.back(), GetParam().lastLine);
    // The answer to the NAK at once, then a retry at most once a second while nothing arrives
    // (the answers come back after 1.5 s, or the silence ends the wait after 3 s).
    const int naks = CountLines("- NAK -");
    EXPECT_GE(naks, 2);
    EXPECT_LE(naks, 1 + SilenceMs / 1000);
    EXPECT_EQ(Received("ext.bin"), GetParam().ok ? extFile : QByteArray());
}

INSTANTIATE_TEST_SUITE_P(
    Replies, LostAnswerTest,
    ::testing::Values(LostAnswerCase{"BlockAnswersLostForAWhile",
                                     "--nak-block 5 --mute-after-nak 1500", true,
                                     "-> FLASHING CONFIRMED  [OK]"},
                      LostAnswerCase{"BlockAnswersLostForGood",
                                     "--nak-block 5 --mute-after-nak 600000", false, "- TIMEOUT -"},
                      // The second EOT completes the image; its ACK is lost.
                      LostAnswerCase{"EotAnswersLost", "--eot nak-first --mute-after-nak 600000",
                                     true, "- No Confirmation! -"}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(FlashTransferTest, NakStormEndsInTimeout) {
    StartSim({"--nak-always", "3"});
    EXPECT_FALSE(FlashExt());
    EXPECT_EQ(view.lines.back(), "- TIMEOUT -");
    EXPECT_EQ(view.panel1.back(), "Timeout");
    EXPECT_EQ(view.notes, QList<FlashNote>{FlashNote::TimedOut});
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

// A device that stops answering ends the wait it is in after a time of silence, like too many
// receive events do; the wait for the boot loader allows longer.
struct SilenceCase {
    const char* label;
    const char* args;
    bool ok;
    const char* lastLine;
    const char* status;
    const char* blockText;
    int events; // receive events of the last wait
    int minMs;  // the run cannot end sooner
};

constexpr int AnswerSilenceMs = 2000;
constexpr int HandshakeSilenceMs = 4000;

class SilenceTest : public FlashTransferTest, public ::testing::WithParamInterface<SilenceCase> {};

TEST_P(SilenceTest, EndsTheWaitItHappensIn) {
    const SilenceCase& c = GetParam();
    StartSim(QString(c.args).split(' '));
    LimitSilence(AnswerSilenceMs, HandshakeSilenceMs);
    ArmWatchdog(60000);
    QElapsedTimer t;
    t.start();
    EXPECT_EQ(FlashExt(), c.ok);
    EXPECT_FALSE(watchdogFired);
    EXPECT_GE(t.elapsed(), c.minMs);
    EXPECT_EQ(view.lines.back(), c.lastLine);
    EXPECT_EQ(view.panel1.back(), c.status);
    // A time-out is noted; an EOT that went unanswered is not one.
    EXPECT_EQ(view.notes.contains(FlashNote::TimedOut), !c.ok);
    EXPECT_EQ(view.blockText, c.blockText);
    EXPECT_EQ(flasher.Link().Rx().eventCount, c.events);
    EXPECT_EQ(CountLines("- NAK -"), 0);
    EXPECT_EQ(Received("ext.bin"), c.ok ? extFile : QByteArray());
    EXPECT_FALSE(port.Connected());
}

INSTANTIATE_TEST_SUITE_P(
    Devices, SilenceTest,
    ::testing::Values(SilenceCase{"SilentBootLoader", "--silent-boot", false, "- TIMEOUT -",
                                  "Timeout", "Block: 0", 0, HandshakeSilenceMs},
                      SilenceCase{"SilentFromABlock", "--silent-from 3", false, "- TIMEOUT -",
                                  "Timeout", "Block: 3", 0, AnswerSilenceMs},
                      SilenceCase{"UnansweredEot", "--eot none", true, "- No Confirmation! -",
                                  "No Confirmation!", "Block: 96", 0, AnswerSilenceMs},
                      // Ten single bytes, each well inside the silence limit of the one before: the
                      // silence clock starts again at each, and the tenth event ends the wait.
                      SilenceCase{"JunkAfterEot", "--eot junk --garbage-gap 300", true,
                                  "- No Confirmation! -", "No Confirmation!", "Block: 96",
                                  TFlashTransfer::ConfirmEventLimit, 9 * 300}),
    [](const auto& info) { return std::string(info.param.label); });

// A line that loses or corrupts a byte in 1 of N packets to the device, by seed. With a copy
// sent again on every pass while the old NAK stood, OS seeds 1 and 4 left 52 and 93 of 480
// blocks in the device and never ended. Those runs are unpaced, so that they take seconds
// rather than a minute. The paced one needs a retry to wait out the line time as well: a
// resent copy that lost a byte is still collected 1 s after it was sent.
struct NoisyLineCase {
    const char* label;
    int kind;
    const char* args;
};

class NoisyLineTest : public FlashTransferTest,
                      public ::testing::WithParamInterface<NoisyLineCase> {};

TEST_P(NoisyLineTest, EndsWithTheWholeImageOrAReportedFailure) {
    const bool os = GetParam().kind == ImageClass::KindOS;
    StartSim(QString(GetParam().args).split(' '));
    LimitSilence(5000, 5000);
    ArmWatchdog(100000);
    const bool ok = Flash(GetParam().kind);
    EXPECT_FALSE(watchdogFired) << view.lines.back().toStdString();
    // Never part of an image in the device, whatever the updater reports.
    const QByteArray image = os ? PaddedOS() : extFile;
    const QByteArray written = Received(os ? "os.bin" : "ext.bin");
    EXPECT_TRUE(written.isEmpty() || written == image)
        << written.size() / 1024 << " blocks written";
    if (ok)
        EXPECT_EQ(written, image);
    else
        EXPECT_TRUE(view.lines.back() == "- TIMEOUT -" || view.lines.back() == "- ABORTED -")
            << view.lines.back().toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Seeds, NoisyLineTest,
    ::testing::Values(
        NoisyLineCase{"OsSeed1", ImageClass::KindOS, "--drop-rate 30 --corrupt-rate 30 --seed 1"},
        NoisyLineCase{"OsSeed3", ImageClass::KindOS, "--drop-rate 30 --corrupt-rate 30 --seed 3"},
        NoisyLineCase{"OsSeed4", ImageClass::KindOS, "--drop-rate 30 --corrupt-rate 30 --seed 4"},
        NoisyLineCase{"ExtPacedSeed1", ImageClass::KindExt,
                      "--pace --drop-rate 10 --corrupt-rate 10 --seed 1"}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(FlashTransferTest, SilentBootLoaderWaitsUntilTheAbortFlag) {
    StartSim({"--silent-boot"});
    // The clock starts first, and a precise timer never fires early as a coarse one may.
    QElapsedTimer t;
    t.start();
    QTimer::singleShot(1200, Qt::PreciseTimer, [&] { view.abort = true; }); // the emergency key
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

// Answers held back (a USB adapter's latency timer) by a boot loader that announces itself
// quickly: NAKs it wrote before it saw the first block arrive after that block went out. Each
// must not be taken for the block's answer, else every later answer belongs to a packet two
// back and EOT goes out while the last block is still refused.
struct LateAnswerCase {
    int replyDelayMs;
    int nakIntervalMs;
    int refusedBlock; // 0: none; 96 is the external image's last
};

class LateAnswerTest : public FlashTransferTest,
                       public ::testing::WithParamInterface<LateAnswerCase> {};

TEST_P(LateAnswerTest, DeviceEndsWithTheWholeImage) {
    const LateAnswerCase& c = GetParam();
    QStringList args{"--verbose", "--reply-delay", QString::number(c.replyDelayMs),
                     "--nak-interval", QString::number(c.nakIntervalMs)};
    if (c.refusedBlock > 0)
        args << "--nak-block" << QString::number(c.refusedBlock);
    StartSim(args);
    ArmWatchdog(120000);
    EXPECT_TRUE(FlashExt()) << view.lines.join("\n").toStdString()
                            << sim->ErrorOutput().toStdString();
    EXPECT_FALSE(watchdogFired);
    EXPECT_EQ(Received("ext.bin"), extFile) << Received("ext.bin").size() / 1024 << " blocks";
    EXPECT_EQ(view.lines.back(), "-> FLASHING CONFIRMED  [OK]");
    // One copy again for the refused block at the most; none for stale announcements.
    EXPECT_LE(CountLines("- NAK -"), c.refusedBlock > 0 ? 1 : 0);
}

std::vector<LateAnswerCase> LateAnswerCases() {
    std::vector<LateAnswerCase> cases;
    for (const int delay : {0, 16, 100, 300})
        for (const int interval : {50, 1000})
            for (const int refused : {0, 1, 2, 96})
                cases.push_back({delay, interval, refused});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Delays, LateAnswerTest, ::testing::ValuesIn(LateAnswerCases()),
                         [](const auto& info) {
                             const LateAnswerCase& c = info.param;
                             return "Delay" + std::to_string(c.replyDelayMs) + "Naks" +
                                    std::to_string(c.nakIntervalMs) + "Refused" +
                                    std::to_string(c.refusedBlock);
                         });

TEST_F(FlashTransferTest, CancelFromTheDeviceIsToldApartFromAStop) {
    StartSim({"--can-block", "2"});
    EXPECT_FALSE(FlashExt());
    EXPECT_EQ(view.lines.back(), "- ABORTED -");
    EXPECT_EQ(view.notes, QList<FlashNote>{FlashNote::CancelledByDevice});
}

} // namespace
