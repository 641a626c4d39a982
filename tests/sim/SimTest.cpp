// The device simulator, driven from the host's side of its pseudo-terminal.
#include "SimHarness.h"

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <poll.h>
#include <sstream>
#include <termios.h>
#include <unistd.h>

namespace {

const std::string kProbe = "$POEM06*11\r\n";
const std::string kOsEntry = "$PMST11,1,0,6,2,0,6,2,0*03\r\n";
const std::string kExtEntry = "$POEM13,1,933888,98304*\r\r\r\r";
const std::string ACK = "\x06";
const std::string NAK = "\x15";
const std::string CAN = "\x18";

class SimTest : public ::testing::Test {
protected:
    void SetUp() override { dir_ = MakeTempDir(); }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    // Quick settings: no pacing, short restarts; the boot loader starts well after the host
    // has reopened at 115200 and repeats its NAK in case one was missed.
    std::vector<std::string> FastArgs(std::vector<std::string> extra = {}) const {
        std::vector<std::string> args = {"--no-pace", "--restart-delay", "300", "--nak-interval",
                                         "200",       "--out",           dir_,  "--stats",
                                         StatsPath()};
        args.insert(args.end(), extra.begin(), extra.end());
        return args;
    }
    std::string StatsPath() const { return dir_ + "/stats.txt"; }

    // Sends the entry sentence at 9600 baud, reopens at 115200 and waits for the NAK.
    static std::unique_ptr<SlavePort> EnterBootLoader(const SimProcess& sim,
                                                      const std::string& entry) {
        {
            SlavePort normal(sim.SlavePath(), B9600);
            normal.Write(entry);
            // Hold the port as the updater does, so the sentence is read at the rate it was sent.
            normal.Read(1, 250);
        }
        auto boot = std::make_unique<SlavePort>(sim.SlavePath(), B115200);
        EXPECT_EQ(boot->Read(1, 2000), NAK);
        return boot;
    }

    static bool ProbeAnswered(const SimProcess& sim) {
        SlavePort port(sim.SlavePath(), B9600);
        port.Write(kProbe);
        return port.Read(54, 1000).rfind("$POEM101,", 0) == 0;
    }

    std::string dir_;
};

// --- Normal operation --------------------------------------------------------------------

struct ProbeCase {
    const char* name;
    unsigned speed;
    bool answered;
};
void PrintTo(const ProbeCase& c, std::ostream* os) {
    *os << c.name;
}

class SimProbeTest : public SimTest, public ::testing::WithParamInterface<ProbeCase> {};

TEST_P(SimProbeTest, AnswersTheProbeOnlyAt9600) {
    SimProcess sim(FastArgs());
    ASSERT_FALSE(sim.SlavePath().empty());
    SlavePort port(sim.SlavePath(), GetParam().speed);
    ASSERT_TRUE(port.IsOpen());
    port.Write(kProbe);
    if (GetParam().answered) {
        const std::string reply = port.Read(54, 1000);
        EXPECT_EQ(reply.size(), 54u) << "a short reply would not end the probe's wait early";
        EXPECT_EQ(reply.rfind("$POEM101,", 0), 0u) << reply;
    } else {
        EXPECT_EQ(port.Read(1, 300), "");
    }
}

INSTANTIATE_TEST_SUITE_P(Rates, SimProbeTest,
                         ::testing::Values(ProbeCase{"At9600", B9600, true},
                                           ProbeCase{"At4800", B4800, false},
                                           ProbeCase{"At115200", B115200, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(SimTest, IgnoresSentencesThatAreNotExact) {
    SimProcess sim(FastArgs());
    SlavePort port(sim.SlavePath(), B9600);
    port.Write("$POEM06*12\r\n");   // wrong checksum
    port.Write("$POEM06*11\r\r\n"); // CR added by output processing
    EXPECT_EQ(port.Read(1, 300), "");
    port.Write(kProbe);
    EXPECT_EQ(port.Read(9, 1000), "$POEM101,");
}

TEST_F(SimTest, StreamsReceiverSentences) {
    SimProcess sim(FastArgs({"--stream", "--no-answer"}));
    SlavePort port(sim.SlavePath(), B9600);
    std::string text;
    for (int i = 0; i < 30 && text.find("$GPGSA") == std::string::npos; ++i)
        text += port.Read(4096, 50);
    ASSERT_NE(text.find("$GPRMC,"), std::string::npos) << text;
    // Each sentence carries its XOR checksum.
    const size_t start = text.find("$GPRMC,");
    const size_t star = text.find('*', start);
    ASSERT_NE(star, std::string::npos);
    unsigned char sum = 0;
    for (size_t i = start + 1; i < star; ++i)
        sum ^= static_cast<unsigned char>(text[i]);
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02X", sum);
    EXPECT_EQ(text.substr(star + 1, 2), hex);
}

// --- Boot loader -------------------------------------------------------------------------

struct ImageCase {
    const char* name;
    std::string entry;
    std::string file;
};
void PrintTo(const ImageCase& c, std::ostream* os) {
    *os << c.name;
}

class SimBootTest : public SimTest, public ::testing::WithParamInterface<ImageCase> {};

TEST_P(SimBootTest, ReceivesChecksAndWritesTheImage) {
    SimProcess sim(FastArgs());
    auto boot = EnterBootLoader(sim, GetParam().entry);
    const std::string one = BlockData(1);
    const std::string two = BlockData(2);

    boot->Write(Packet(1, one));
    EXPECT_EQ(boot->Read(1, 1000), ACK);
    std::string badSum = Packet(2, two);
    badSum.back() = static_cast<char>(badSum.back() ^ 1);
    boot->Write(badSum);
    EXPECT_EQ(boot->Read(1, 1000), NAK);
    std::string badComplement = Packet(2, two);
    badComplement[2] = static_cast<char>(badComplement[2] ^ 0x10);
    boot->Write(badComplement);
    EXPECT_EQ(boot->Read(1, 1000), NAK);
    boot->Write(Packet(2, two));
    EXPECT_EQ(boot->Read(1, 1000), ACK);
    boot->Write(Packet(2, two)); // resent after a lost ACK
    EXPECT_EQ(boot->Read(1, 1000), ACK);
    boot->Write("\x04");
    EXPECT_EQ(boot->Read(1, 1000), ACK);

    EXPECT_EQ(ReadFile(dir_ + "/" + GetParam().file), one + two);
    const std::string stats = ReadFile(StatsPath());
    EXPECT_NE(stats.find("images_completed=1\n"), std::string::npos) << stats;
    EXPECT_NE(stats.find("packets_stored=2\n"), std::string::npos) << stats;
    EXPECT_NE(stats.find("packets_duplicate=1\n"), std::string::npos) << stats;
    EXPECT_NE(stats.find("packets_bad=2\n"), std::string::npos) << stats;
    // ACK 1 -> bad packet, ACK 2 -> its repeat; the ACK of the repeat is followed by EOT.
    EXPECT_NE(stats.find("turnaround_count=2\n"), std::string::npos) << stats;

    boot.reset();
    usleep(350 * 1000); // restart back into normal operation
    EXPECT_TRUE(ProbeAnswered(sim));
}

INSTANTIATE_TEST_SUITE_P(Images, SimBootTest,
                         ::testing::Values(ImageCase{"Os", kOsEntry, "os.bin"},
                                           ImageCase{"Ext", kExtEntry, "ext.bin"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(SimTest, BothImagesInTurnWithoutTurnaroundAcrossTheRestart) {
    SimProcess sim(FastArgs());
    for (const std::string& entry : {kOsEntry, kExtEntry}) {
        auto boot = EnterBootLoader(sim, entry);
        boot->Write(Packet(1, BlockData(1)));
        EXPECT_EQ(boot->Read(1, 1000), ACK);
        boot->Write("\x04");
        EXPECT_EQ(boot->Read(1, 1000), ACK);
        boot.reset();
        usleep(350 * 1000);
    }
    EXPECT_EQ(ReadFile(dir_ + "/os.bin"), BlockData(1));
    EXPECT_EQ(ReadFile(dir_ + "/ext.bin"), BlockData(1));
    const std::string stats = ReadFile(StatsPath());
    EXPECT_NE(stats.find("images_completed=2\n"), std::string::npos) << stats;
    // Only an ACK of a block followed by the next packet is a turnaround.
    EXPECT_NE(stats.find("turnaround_count=0\n"), std::string::npos) << stats;
}

TEST_F(SimTest, SequenceWrapsFromFFTo00) {
    SimProcess sim(FastArgs());
    auto boot = EnterBootLoader(sim, kOsEntry);
    std::string image;
    for (int block = 1; block <= 257; ++block) {
        const std::string data = BlockData(block);
        boot->Write(Packet(block, data));
        ASSERT_EQ(boot->Read(1, 1000), ACK) << "block " << block;
        image += data;
    }
    boot->Write("\x04");
    EXPECT_EQ(boot->Read(1, 1000), ACK);
    EXPECT_EQ(ReadFile(dir_ + "/os.bin"), image);
}

// Each step sends the packet with this sequence (-1: EOT) and expects exactly these bytes
// back; an empty answer means silence.
struct Step {
    int seq;
    std::string reply;
};
struct FaultCase {
    const char* name;
    std::vector<std::string> args;
    std::vector<Step> steps;
};
void PrintTo(const FaultCase& c, std::ostream* os) {
    *os << c.name;
}

class SimFaultTest : public SimTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(SimFaultTest, AnswersAsInjected) {
    SimProcess sim(FastArgs(GetParam().args));
    auto boot = EnterBootLoader(sim, kOsEntry);
    int n = 0;
    for (const Step& step : GetParam().steps) {
        boot->Write(step.seq < 0 ? std::string("\x04") : Packet(step.seq, BlockData(step.seq)));
        const std::string got =
            boot->Read(std::max<size_t>(step.reply.size(), 1), step.reply.empty() ? 300 : 1000);
        EXPECT_EQ(got, step.reply) << "step " << n;
        ++n;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, SimFaultTest,
    ::testing::Values(
        FaultCase{"NakOnce", {"--nak-block", "2"}, {{1, ACK}, {2, NAK}, {2, ACK}, {3, ACK}}},
        FaultCase{"NakAlways", {"--nak-always", "1"}, {{1, NAK}, {1, NAK}}},
        FaultCase{"CanAbandons", {"--can-block", "2"}, {{1, ACK}, {2, CAN}, {3, ""}}},
        FaultCase{"CanThenAck", {"--can-block", "1", "--can-ack-after", "0"}, {{1, CAN + ACK}}},
        FaultCase{"AckNakBurst", {"--ack-nak-burst", "1"}, {{1, ACK + NAK}, {2, ACK}}},
        FaultCase{"NakAckBurst", {"--nak-ack-burst", "1"}, {{1, NAK + ACK}, {1, ACK}, {2, ACK}}},
        FaultCase{"OutOfSequence", {}, {{1, ACK}, {3, CAN + CAN}}},
        FaultCase{"FirstPacketMustBe01", {}, {{0, CAN + CAN}}},
        FaultCase{"OtherImageUntouched", {"--fault-image", "ext", "--nak-always", "1"}, {{1, ACK}}},
        FaultCase{"SilentFrom", {"--silent-from", "2"}, {{1, ACK}, {2, ""}, {-1, ""}}},
        FaultCase{"CorruptEveryPacket", {"--corrupt-rate", "1"}, {{1, NAK}, {1, NAK}}},
        FaultCase{"DropEveryPacket", {"--drop-rate", "1", "--char-timeout", "50"}, {{1, NAK}}},
        FaultCase{"EotNakFirst", {"--eot", "nak-first"}, {{1, ACK}, {-1, NAK}, {-1, ACK}}},
        FaultCase{"EotUnconfirmed", {"--eot", "none"}, {{1, ACK}, {-1, ""}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SimTest, HangupClosesTheLineAndExits) {
    const std::string link = dir_ + "/qlm0";
    SimProcess sim(FastArgs({"--hangup-at", "2", "--link", link}));
    auto boot = EnterBootLoader(sim, kOsEntry);
    boot->Write(Packet(1, BlockData(1)));
    EXPECT_EQ(boot->Read(1, 1000), ACK);
    boot->Write(Packet(2, BlockData(2)));
    EXPECT_EQ(sim.WaitExit(2000), 0);
    EXPECT_EQ(boot->Read(1, 100), "");
    EXPECT_FALSE(std::filesystem::is_symlink(link));
}

TEST_F(SimTest, PacesAtTheLineRate) {
    SimProcess sim({"--restart-delay", "300", "--nak-interval", "200", "--out", dir_});
    {
        SlavePort port(sim.SlavePath(), B9600);
        const auto start = std::chrono::steady_clock::now();
        port.Write(kProbe);
        ASSERT_EQ(port.Read(55, 2000).size(), 55u);
        // 12 characters in and 55 out at 960 characters per second.
        EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(68));
    }
    auto boot = EnterBootLoader(sim, kOsEntry);
    const auto start = std::chrono::steady_clock::now();
    boot->Write(Packet(1, BlockData(1)));
    ASSERT_EQ(boot->Read(1, 2000), ACK);
    // 1028 characters at 11520 per second: 89.2 ms.
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::microseconds(89000));
}

TEST_F(SimTest, ReplyDelayHoldsEveryAnswerBack) {
    SimProcess sim(FastArgs({"--reply-delay", "80"}));
    using std::chrono::steady_clock;
    {
        SlavePort port(sim.SlavePath(), B9600);
        const auto start = steady_clock::now();
        port.Write(kProbe);
        ASSERT_EQ(port.Read(55, 2000).size(), 55u);
        EXPECT_GE(steady_clock::now() - start, std::chrono::milliseconds(80));
    }
    auto boot = EnterBootLoader(sim, kOsEntry);
    for (int seq = 1; seq <= 2; ++seq) {
        const auto start = steady_clock::now();
        boot->Write(Packet(seq, BlockData(seq)));
        ASSERT_EQ(boot->Read(1, 2000), ACK);
        EXPECT_GE(steady_clock::now() - start, std::chrono::milliseconds(80)) << seq;
    }
}

// --- Process housekeeping ----------------------------------------------------------------

long CpuTicks(pid_t pid) {
    const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
    // Fields after the command name: state is field 3, utime 14, stime 15.
    std::istringstream rest(stat.substr(stat.rfind(')') + 2));
    std::string field;
    long utime = 0;
    long stime = 0;
    for (int i = 3; i <= 15 && rest >> field; ++i) {
        if (i == 14)
            utime = std::stol(field);
        if (i == 15)
            stime = std::stol(field);
    }
    return utime + stime;
}

TEST_F(SimTest, LinksTheSlaveWithoutHoldingItAndCleansUp) {
    const std::string link = dir_ + "/qlm0";
    SimProcess sim(FastArgs({"--link", link}));
    ASSERT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(std::filesystem::read_symlink(link).string(), sim.SlavePath());

    for (const auto& fd :
         std::filesystem::directory_iterator("/proc/" + std::to_string(sim.Pid()) + "/fd")) {
        std::error_code ec;
        EXPECT_NE(std::filesystem::read_symlink(fd.path(), ec).string(), sim.SlavePath())
            << "the simulator holds its own slave open";
    }

    // Idle with the slave closed, then open: no busy waiting either way.
    const long before = CpuTicks(sim.Pid());
    usleep(400 * 1000);
    {
        SlavePort idle(link, B9600);
        usleep(400 * 1000);
    }
    EXPECT_LT(CpuTicks(sim.Pid()) - before, 8) << "clock ticks of CPU while idle";

    EXPECT_EQ(sim.Stop(), 0);
    EXPECT_FALSE(std::filesystem::is_symlink(link));
    EXPECT_NE(ReadFile(StatsPath()).find("images_completed=0\n"), std::string::npos);
}

TEST_F(SimTest, RefusesToReplaceARegularFile) {
    const std::string path = dir_ + "/taken";
    { std::ofstream(path) << "keep"; }
    const RunResult run = RunSimToEnd({"--link", path});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(ReadFile(path), "keep");
}

class SimUsageTest : public ::testing::TestWithParam<std::vector<std::string>> {};

TEST_P(SimUsageTest, BadCommandLineExitsWith2) {
    const RunResult run = RunSimToEnd(GetParam());
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("Usage: quillmoor-sim"), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "") << "no slave path on a refused command line";
}

INSTANTIATE_TEST_SUITE_P(Options, SimUsageTest,
                         ::testing::Values(std::vector<std::string>{"--bogus"},
                                           std::vector<std::string>{"--restart-delay"},
                                           std::vector<std::string>{"--restart-delay", "-5"},
                                           std::vector<std::string>{"--nak-block", "1,x"},
                                           std::vector<std::string>{"--nak-block", "0"},
                                           std::vector<std::string>{"--eot", "maybe"},
                                           std::vector<std::string>{"--garbage-block", "3:"},
                                           std::vector<std::string>{"--probe-reply", "bad\\x4"},
                                           std::vector<std::string>{"--verbose=yes"},
                                           std::vector<std::string>{"stray"}));

TEST(SimHelpTest, HelpListsTheOptionsAndExits0) {
    const RunResult run = RunSimToEnd({"--help"});
    EXPECT_EQ(run.status, 0);
    for (const char* option : {"--link", "--out", "--stats", "--no-pace", "--nak-block",
                               "--hangup-at", "--eot", "--seed"})
        EXPECT_NE(run.out.find(option), std::string::npos) << option;
}

} // namespace
