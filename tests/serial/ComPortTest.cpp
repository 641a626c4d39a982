#include "PtyPair.h"
#include "serial/TComPort.h"

#include <QElapsedTimer>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

class ComPortTest : public ::testing::Test {
protected:
    // Opens the port with software flow control and stops the line with XOFF.
    void OpenStoppedLine() {
        TComFlowControl flow;
        flow.XonXoffOut = true;
        port.SetFlowControl(flow);
        port.Open();
        pty.Write("\x13");
        SleepMs(50);
    }
    void SetUp() override { port.SetPort(pty.SlavePath()); }

    // The code of the EComPortExt that op raises, or -1 when it raises none.
    template <typename Op> static int RaisedCode(Op op, QString* message = nullptr) {
        try {
            op();
        } catch (const EComPortExt& error) {
            if (message)
                *message = error.Message();
            return error.Code;
        }
        return -1;
    }

    PtyPair pty;
    TComPort port;
};

TEST_F(ComPortTest, DefaultsAndDevicePaths) {
    TComPort fresh;
    EXPECT_EQ(fresh.Port(), QStringLiteral("COM1"));
    EXPECT_EQ(fresh.BaudRate(), br9600);
    EXPECT_EQ(fresh.DataBits(), dbEight);
    EXPECT_EQ(fresh.StopBits(), sbOneStopBit);
    EXPECT_EQ(fresh.Parity(), TComParity{});
    EXPECT_FALSE(fresh.FlowControl().XonXoffOut);
    EXPECT_EQ(fresh.FlowControl().ControlDTR, dtrDisable);
    EXPECT_EQ(fresh.FlowControl().ControlRTS, rtsDisable);
    EXPECT_EQ(fresh.Timeouts().WriteTotalConstant, 1000);
    EXPECT_EQ(fresh.Timeouts().WriteTotalMultiplier, 100);
    EXPECT_FALSE(fresh.Connected());
    EXPECT_EQ(TCustomComPort::DevicePath(QStringLiteral("ttyUSB0")),
              QStringLiteral("/dev/ttyUSB0"));
    EXPECT_EQ(TCustomComPort::DevicePath(QStringLiteral("/dev/pts/7")),
              QStringLiteral("/dev/pts/7"));
}

TEST_F(ComPortTest, OpensAndClosesRepeatedlyWithoutLeavingThreads) {
    const int threadsBefore = ThreadCount();
    for (int i = 0; i < 30; ++i) {
        port.Open();
        ASSERT_TRUE(port.Connected());
        port.Open(); // already open: nothing happens
        port.Close();
        ASSERT_FALSE(port.Connected());
        port.Close(); // already closed: nothing happens
    }
    EXPECT_EQ(ThreadCount(), threadsBefore);
    port.Open();
    const QByteArray hello("hello");
    EXPECT_EQ(port.WriteBytes(hello.constData(), hello.size()), 5);
    EXPECT_EQ(pty.Read(5, 2000), hello);
}

TEST_F(ComPortTest, OpenFailureRaisesCode1AndStaysClosed) {
    // The stated words, then the system's reason.
    const struct {
        const char* name;
        const char* shownAs;
    } rows[] = {
        {"/dev/qlm-no-such-port", "/dev/qlm-no-such-port: No such file or directory"},
        {"qlmNoSuchPort", "qlmNoSuchPort: No such file or directory"},
        {"/dev/null", "/dev/null: not a terminal"}, // exists, but is no terminal
        {"", ": Is a directory"},                   // no port at all: the folder /dev/
    };
    // The error says it all: nothing goes to the terminal besides.
    static int logged = 0;
    const QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext&, const QString&) { ++logged; });
    for (const auto& row : rows) {
        TComPort other;
        other.SetPort(QString::fromLatin1(row.name));
        QString message;
        EXPECT_EQ(RaisedCode([&] { other.Open(); }, &message), 1) << row.name;
        EXPECT_EQ(message, QStringLiteral("COM Port Error: Unable to open com port on ") +
                               QString::fromLatin1(row.shownAs));
        EXPECT_FALSE(other.Connected());
    }
    qInstallMessageHandler(previous);
    EXPECT_EQ(logged, 0);
}

TEST_F(ComPortTest, HeldPortCannotBeOpenedUntilReleased) {
    port.Open();
    TComPort second;
    second.SetPort(pty.SlavePath());
    QString message;
    EXPECT_EQ(RaisedCode([&] { second.Open(); }, &message), 1);
    EXPECT_EQ(message, QStringLiteral("COM Port Error: Unable to open com port on ") +
                           pty.SlavePath() + QStringLiteral(": in use by another program"));
    EXPECT_FALSE(second.Connected());
    // The failed attempt must not disturb the holder.
    const QByteArray ping("ping");
    EXPECT_EQ(port.WriteBytes(ping.constData(), ping.size()), 4);
    EXPECT_EQ(pty.Read(4, 2000), ping);

    port.Close();
    second.Open();
    EXPECT_TRUE(second.Connected());
}

TEST_F(ComPortTest, PortLockedByAnotherProgramIsRefused) {
    const QByteArray path = pty.SlavePath().toLocal8Bit();
    const int other = open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(other, 0);
    ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(RaisedCode([&] { port.Open(); }), 1);
    EXPECT_FALSE(port.Connected());
    close(other);
    port.Open();
    EXPECT_TRUE(port.Connected());
}

TEST_F(ComPortTest, ExclusiveFlagIsSetWhileOpenAndClearedByClose) {
    const QByteArray path = pty.SlavePath().toLocal8Bit();
    auto exclusive = [&] {
        // Root may open an exclusive terminal, so the flag can be read from a second handle.
        const int fd = open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        int flag = -1;
        if (fd >= 0) {
            ioctl(fd, TIOCGEXCL, &flag);
            close(fd);
        }
        return flag;
    };
    if (geteuid() != 0)
        GTEST_SKIP() << "reading the flag of an open port needs root";
    port.Open();
    EXPECT_EQ(exclusive(), 1);
    port.Close();
    EXPECT_EQ(exclusive(), 0);
}

TEST_F(ComPortTest, LineIsRaw8N1WithoutFlowControl) {
    port.Open();
    termios t{};
    ASSERT_EQ(tcgetattr(pty.Master(), &t), 0);
    EXPECT_EQ(t.c_cflag & CSIZE, tcflag_t(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), tcflag_t(CLOCAL | CREAD));
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL | INPCK), 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
}

// A character-format setting reaches an open line at once and a closed port's line at Open.
// A pseudo-terminal carries only 8 bits without parity and refuses the rest, which shows what a
// refused setting does: changed while open, the port stays open with the line as it was; at
// Open, the port stays closed.
TEST_F(ComPortTest, CharacterFormatReachesTheLineOrIsRefused) {
    const auto format = [this] {
        termios t{};
        EXPECT_EQ(tcgetattr(pty.Master(), &t), 0);
        return t.c_cflag & (CSIZE | CSTOPB | PARENB);
    };
    port.Open();
    port.SetStopBits(sbTwoStopBits);
    EXPECT_EQ(format(), tcflag_t(CS8 | CSTOPB));
    port.Close();
    port.SetStopBits(sbOneStopBit);
    EXPECT_EQ(format(), tcflag_t(CS8 | CSTOPB)); // the closed port leaves the line alone
    port.Open();
    EXPECT_EQ(format(), tcflag_t(CS8));

    // Older kernels let a pseudo-terminal take 7 bits; there is nothing refused to see then.
    termios seven{};
    ASSERT_EQ(tcgetattr(pty.Master(), &seven), 0);
    seven.c_cflag = (seven.c_cflag & ~CSIZE) | CS7;
    tcsetattr(pty.Master(), TCSANOW, &seven);
    if (format() != tcflag_t(CS8))
        GTEST_SKIP() << "this system's pseudo-terminals carry 7 bits";

    TComParity even;
    even.Bits = prEven;
    const std::function<void()> refused[] = {[this] { port.SetDataBits(dbSeven); },
                                             [&] { port.SetParity(even); }};
    for (const auto& set : refused) {
        EXPECT_EQ(RaisedCode(set), 7);
        EXPECT_TRUE(port.Connected());
        EXPECT_EQ(format(), tcflag_t(CS8));
        port.Close();
        EXPECT_EQ(RaisedCode([this] { port.Open(); }), 7);
        EXPECT_FALSE(port.Connected());
        port.SetDataBits(dbEight);
        port.SetParity({});
        port.Open();
    }
    EXPECT_EQ(port.DataBits(), dbEight);
}

TEST_F(ComPortTest, EveryBaudRateReachesTheLine) {
    const struct {
        TBaudRate rate;
        int value;
    } rows[] = {
        {br110, 110},       {br300, 300},       {br600, 600},       {br1200, 1200},
        {br2400, 2400},     {br4800, 4800},     {br9600, 9600},     {br14400, 14400},
        {br19200, 19200},   {br38400, 38400},   {br56000, 56000},   {br57600, 57600},
        {br115200, 115200}, {br128000, 128000}, {br256000, 256000},
    };
    port.Open();
    for (const auto& row : rows) {
        port.SetBaudRate(row.rate);
        EXPECT_EQ(pty.LineRate(), row.value) << row.value;
    }
    port.SetCustomBaudRate(31250);
    port.SetBaudRate(brCustom);
    EXPECT_EQ(pty.LineRate(), 31250);
}

TEST_F(ComPortTest, BaudRateTakesEffectAtOnceWhenOpenAndAtOpenWhenClosed) {
    port.Open();
    EXPECT_EQ(pty.LineRate(), 9600);
    port.SetBaudRate(br115200);
    EXPECT_EQ(pty.LineRate(), 115200);
    port.Close();
    port.SetBaudRate(br9600);
    EXPECT_EQ(pty.LineRate(), 115200); // the closed port leaves the line alone
    port.Open();
    EXPECT_EQ(pty.LineRate(), 9600);
}

TEST_F(ComPortTest, AssigningAnotherPortReopensUnderTheNewName) {
    PtyPair other;
    port.Open();
    port.SetPort(pty.SlavePath()); // same name: stays as it is
    EXPECT_TRUE(port.Connected());
    port.SetPort(other.SlavePath());
    EXPECT_TRUE(port.Connected());
    TComPort probe;
    probe.SetPort(pty.SlavePath());
    probe.Open(); // the first device was released
    probe.Close();
    probe.SetPort(other.SlavePath());
    EXPECT_EQ(RaisedCode([&] { probe.Open(); }), 1);
}

TEST_F(ComPortTest, ReadTextTakesAtMostCountAndNeverWaits) {
    port.OnRxChar = nullptr;
    port.Open();
    QByteArray text("stale");
    EXPECT_EQ(port.ReadText(text, 0), 0);
    EXPECT_TRUE(text.isEmpty());
    EXPECT_EQ(port.ReadText(text, 10), 0); // nothing queued: returns at once, empty

    pty.Write(QByteArray("\x00\xff$GPRMC", 8));
    ASSERT_TRUE(PumpUntil([&] { return port.WaitingCount() == 8; }, 2000));
    EXPECT_EQ(port.ReadText(text, 3), 3);
    EXPECT_EQ(text, QByteArray("\x00\xff$", 3));
    EXPECT_EQ(port.WaitingCount(), 5);
    EXPECT_EQ(port.ReadText(text, 100), 5);
    EXPECT_EQ(text, QByteArray("GPRMC"));
}

TEST_F(ComPortTest, PurgeDiscardsReceivedBytes) {
    port.Open();
    pty.Write("unwanted");
    ASSERT_TRUE(PumpUntil([&] { return port.WaitingCount() == 8; }, 2000));
    port.PurgeBuffers(true, true);
    EXPECT_EQ(port.WaitingCount(), 0);
    port.Close();
    port.PurgeBuffers(true, true); // closed: nothing to do, nothing raised
}

TEST_F(ComPortTest, WriteOfNothingWritesNothing) {
    port.Open();
    EXPECT_EQ(port.WriteBytes("x", 0), 0);
    EXPECT_TRUE(pty.Read(1, 100).isEmpty());
}

TEST_F(ComPortTest, LargeWriteIsHandedOverWhole) {
    port.Open();
    QByteArray packet(100000, '\0');
    for (int i = 0; i < packet.size(); ++i)
        packet[i] = static_cast<char>(i * 7);
    QByteArray received;
    std::thread reader([&] { received = pty.Read(packet.size(), 10000); });
    EXPECT_EQ(port.WriteBytes(packet.constData(), packet.size()), packet.size());
    reader.join();
    EXPECT_EQ(received, packet);
}

// A line stopped by XOFF takes no bytes: the write ends after 1000 + 100 * n ms with the
// smaller count and no error.
TEST_F(ComPortTest, WriteOnStoppedLineTimesOut) {
    OpenStoppedLine();
    const QByteArray sentence("$PQLM,PROBE\n"); // 12 bytes: 2200 ms
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(port.WriteBytes(sentence.constData(), sentence.size()), 0);
    EXPECT_GE(timer.elapsed(), 2150);
    EXPECT_LT(timer.elapsed(), 4000);
}

TEST_F(ComPortTest, WriteGoesOnWhenTheLineResumes) {
    OpenStoppedLine();
    std::thread resume([&] {
        SleepMs(300);
        pty.Write("\x11");
    });
    const QByteArray sentence("$PQLM,PROBE\n");
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(port.WriteBytes(sentence.constData(), sentence.size()), sentence.size());
    EXPECT_GE(timer.elapsed(), 250);
    EXPECT_LT(timer.elapsed(), 2000);
    resume.join();
    EXPECT_EQ(pty.Read(sentence.size(), 2000), sentence);
}

TEST_F(ComPortTest, WriteToVanishedDeviceFailsAtOnce) {
    port.Open();
    pty.HangUp();
    const QByteArray sentence("$PQLM,PROBE\n");
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(RaisedCode([&] { port.WriteBytes(sentence.constData(), sentence.size()); }), 2);
    EXPECT_LT(timer.elapsed(), 1000);
    QByteArray text;
    EXPECT_EQ(port.ReadText(text, 10), 0);
    port.Close();
    EXPECT_FALSE(port.Connected());
}

TEST_F(ComPortTest, ClosedPortRefusesIo) {
    QByteArray text;
    EXPECT_EQ(RaisedCode([&] { port.WriteBytes("x", 1); }), 2);
    EXPECT_EQ(RaisedCode([&] { port.ReadText(text, 1); }), 3);
    EXPECT_EQ(RaisedCode([&] { port.WaitingCount(); }), 10);
}

} // namespace
