// The Windows side of the serial port, under Wine against the simulated device on the host.
#include "serial/EnumComPorts.h"
#include "serial/EnumComPorts_win.h"
#include "serial/TComDcb.h"
#include "serial/TComPort.h"
#include "support/Pump.h"
#include "support/RecordingPresenter.h"
#include "support/SimDevice.h"

#include "app/EventPump.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace {

// Ports in the order Windows lists names: the user's locale, where a hyphen counts for
// little and case for nothing; digits are text (COM10 before COM2). Qt's comparison would put
// "COM-B" first, by its code.
TEST(SortComPorts, OrdersNamesAsTheSystemDoes) {
    QStringList ports{"COM-B", "com2", "COMA", "COM10", "COM2"};
    SortComPorts(ports);
    EXPECT_EQ(ports, (QStringList{"COM10", "com2", "COM2", "COMA", "COM-B"}));
    EXPECT_EQ(ComparePortNames("com3", "COM3"), 0);
    EXPECT_LT(ComparePortNames("COMA", "COM-B"), 0);
}

const QByteArray ProbeSentence = QByteArray::fromHex("24504F454D30362A31310D0A");

// Milliseconds of processor time this process has used, all threads.
double ProcessCpuMs() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto ms = [](FILETIME t) {
        return static_cast<double>((static_cast<unsigned long long>(t.dwHighDateTime) << 32) |
                                   t.dwLowDateTime) /
               10000.0;
    };
    return ms(kernel) + ms(user);
}

// The flags word of a DCB: the bit fields after the rate, as one number.
DWORD FlagsWord(const DCB& dcb) {
    DWORD flags = 0;
    static_assert(sizeof(DCB) == 28);
    std::memcpy(&flags, reinterpret_cast<const char*>(&dcb) + 8, sizeof flags);
    return flags;
}

TEST(ComLineDcb, TheUpdatersSettingsGiveFlagsWordOneAndHalfQueueLimits) {
    for (int rate : {9600, 115200}) {
        TComLine line;
        line.Rate = rate;
        const DCB dcb = ComLineDcb(line);
        EXPECT_EQ(dcb.DCBlength, 28u);
        EXPECT_EQ(dcb.BaudRate, static_cast<DWORD>(rate));
        EXPECT_EQ(FlagsWord(dcb), 1u); // binary; no parity check, no flow control, DTR/RTS off
        EXPECT_EQ(dcb.XonLim, 256);
        EXPECT_EQ(dcb.XoffLim, 256);
        EXPECT_EQ(dcb.ByteSize, 8);
        EXPECT_EQ(dcb.Parity, 0);
        EXPECT_EQ(dcb.StopBits, 0);
        EXPECT_EQ(dcb.XonChar, 0x11);
        EXPECT_EQ(dcb.XoffChar, 0x13);
        EXPECT_EQ(dcb.ErrorChar, 0);
        EXPECT_EQ(dcb.EofChar, 0);
        EXPECT_EQ(dcb.EvtChar, 0);
    }
}

TEST(ComLineDcb, EachSettingLandsInItsField) {
    struct Case {
        const char* what;
        void (*set)(TComLine&);
        DWORD flags;
    } cases[] = {
        {"parity check", [](TComLine& l) { l.Parity.Check = true; }, 0x0003},
        {"check and replace",
         [](TComLine& l) {
             l.Parity.Check = true;
             l.Parity.Replace = true;
             l.Parity.ReplaceChar = '?';
         },
         0x0403},
        {"CTS out", [](TComLine& l) { l.FlowControl.OutCTSFlow = true; }, 0x0005},
        {"DSR out", [](TComLine& l) { l.FlowControl.OutDSRFlow = true; }, 0x0009},
        {"DTR on", [](TComLine& l) { l.FlowControl.ControlDTR = dtrEnable; }, 0x0011},
        {"DTR handshake", [](TComLine& l) { l.FlowControl.ControlDTR = dtrHandshake; }, 0x0021},
        {"XON/XOFF out", [](TComLine& l) { l.FlowControl.XonXoffOut = true; }, 0x0101},
        {"XON/XOFF in", [](TComLine& l) { l.FlowControl.XonXoffIn = true; }, 0x0201},
        {"RTS on", [](TComLine& l) { l.FlowControl.ControlRTS = rtsEnable; }, 0x1001},
        {"RTS handshake", [](TComLine& l) { l.FlowControl.ControlRTS = rtsHandshake; }, 0x2001},
        {"RTS toggle", [](TComLine& l) { l.FlowControl.ControlRTS = rtsToggle; }, 0x3001},
    };
    for (const Case& c : cases) {
        TComLine line;
        c.set(line);
        const DCB dcb = ComLineDcb(line);
        EXPECT_EQ(FlagsWord(dcb), c.flags) << c.what;
        EXPECT_EQ(dcb.ErrorChar, (c.flags & 0x0400) ? '?' : 0) << c.what;
    }
    TComLine odd;
    odd.DataBits = dbSeven;
    odd.Parity.Bits = prSpace;
    odd.StopBits = sbTwoStopBits;
    odd.InputSize = 4096;
    const DCB dcb = ComLineDcb(odd);
    EXPECT_EQ(dcb.ByteSize, 7);
    EXPECT_EQ(dcb.Parity, 4);
    EXPECT_EQ(dcb.StopBits, 2);
    EXPECT_EQ(dcb.XonLim, 1024);
}

// One port with the receive handler reading what it is told, like the updater's.
class ComPortWinTest : public ::testing::Test {
protected:
    void SetUp() override {
        TestPresenter().boxes.clear();
        port.SetEvents(evRxChar);
        port.OnRxChar = [this](TCustomComPort*, int count) {
            counts.push_back(count);
            QByteArray text;
            port.ReadText(text, count);
            received += text;
        };
    }

    QTemporaryDir links;
    TComPort port;
    std::vector<int> counts;
    QByteArray received;
};

TEST_F(ComPortWinTest, ProbeSentenceGetsTheDevicesReplyThroughTheReceiveThread) {
    SimDevice sim(TestPortName(links, "dev"), {"--no-pace"});
    ASSERT_TRUE(sim.Started()) << sim.ErrorOutput().toStdString();
    port.SetPort(sim.Path());
    port.Open();
    ASSERT_TRUE(port.Connected());
    EXPECT_EQ(port.WriteBytes(ProbeSentence.constData(), ProbeSentence.size()), 12);
    ASSERT_TRUE(PumpUntil([&] { return received.contains("\r\n"); }, 3000));
    EXPECT_TRUE(received.startsWith("$")) << received.toStdString();
    for (int count : counts)
        EXPECT_GT(count, 0);
    port.Close();
    EXPECT_FALSE(port.Connected());
    EXPECT_TRUE(TestPresenter().boxes.isEmpty());
}

TEST_F(ComPortWinTest, MissingDeviceIsAnOpenErrorUntilItIsThere) {
    const QString name = TestPortName(links, "silent");
    port.SetPort(name);
    try {
        port.Open();
        FAIL() << "opened a port without a device";
    } catch (const EComPortExt& error) {
        // Windows refuses the open (code 1); Wine opens the name of a missing device and
        // refuses its settings (codes 7 to 9). Either way the port stays closed.
        EXPECT_TRUE(error.Code == CE_OpenFailed || error.Code == CE_SetStateFailed ||
                    error.Code == CE_TimeoutsFailed || error.Code == CE_SetupComFailed)
            << int(error.Code);
        EXPECT_TRUE(error.Message().startsWith("COM Port Error: "));
        EXPECT_TRUE(error.Message().endsWith(" on " + name));
    }
    EXPECT_FALSE(port.Connected());
    SilentPty device(name);
    port.Open();
    EXPECT_TRUE(port.Connected());
    const char byte = 'x';
    EXPECT_EQ(port.WriteBytes(&byte, 1), 1);
    port.Close();
    EXPECT_EQ(device.Written(), "x");
}

// An open port on a silent line leaves its receive thread asleep: it is woken by arrivals
// only, never by time. What the waiting window thread costs by itself (much, under Wine) is
// measured first and left out of the processor time.
TEST_F(ComPortWinTest, SilentLineLeavesTheReceiveThreadAsleep) {
    SilentPty device(TestPortName(links, "silent"));
    port.SetPort(device.Path());
    auto cpuPerSecondWaiting = [] {
        const double before = ProcessCpuMs();
        PumpUntil([] { return false; }, 3000);
        return (ProcessCpuMs() - before) / 3.0;
    };
    const double closed = cpuPerSecondWaiting();
    port.Open();
    const double open = cpuPerSecondWaiting();
    EXPECT_LE(port.ReceiveWakeups(), 2) << "wake-ups in 3 s of silence";
    EXPECT_LT(open - closed, 50.0) << "ms of processor time per second more with the port open ("
                                   << closed << " closed, " << open << " open)";
    EXPECT_TRUE(counts.empty());
    EXPECT_FALSE(port.ReceiveDetached());
    port.Close();
}

// The window thread reading by itself ends the receive thread's pending wait without an
// arrival, again and again while a reply trickles in at 9600 baud: no byte is lost, none comes
// twice or out of order, and the bytes that arrive after the last such wait are reported.
TEST_F(ComPortWinTest, BytesArrivingAfterAWaitEndedWithoutThemAreReportedInOrder) {
    QByteArray reply;
    for (int i = 0; i < 190; ++i)
        reply += "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"[i % 62];
    SimDevice sim(TestPortName(links, "dev"),
                  {"--pace", "--probe-reply", QString::fromLatin1(reply) + "\\r\\n"});
    reply += "\r\n";
    ASSERT_TRUE(sim.Started()) << sim.ErrorOutput().toStdString();
    port.SetPort(sim.Path());
    port.Open();
    ASSERT_EQ(port.WriteBytes(ProbeSentence.constData(), ProbeSentence.size()), 12);
    int ownReads = 0;
    QElapsedTimer clock;
    clock.start();
    while (received.size() < reply.size() / 2 && clock.elapsed() < 5000) {
        QByteArray text;
        port.ReadText(text, 7);
        received += text;
        ++ownReads;
        PumpFor(1);
    }
    const size_t deliveriesBefore = counts.size();
    ASSERT_TRUE(PumpUntil([&] { return received.size() >= reply.size(); }, 3000))
        << received.toStdString();
    EXPECT_EQ(received, reply);
    EXPECT_GT(ownReads, 1);
    EXPECT_GT(counts.size(), deliveriesBefore); // the rest came through the receive thread
    port.Close();
}

TEST_F(ComPortWinTest, VanishedDeviceEndsDeliveryAndTheWritesFailWithThePortsError) {
    auto device = std::make_unique<SilentPty>(TestPortName(links, "silent"));
    const QString name = device->Path();
    port.SetPort(name);
    port.Open();
    device.reset(); // the line hangs up
    ASSERT_TRUE(PumpUntil([&] { return port.ReceiveDetached(); }, 3000));
    EXPECT_TRUE(port.Connected());
    try {
        const char byte = 'x';
        port.WriteBytes(&byte, 1);
        FAIL() << "wrote to a vanished device";
    } catch (const EComPortExt& error) {
        EXPECT_EQ(error.Code, CE_WriteFailed);
        EXPECT_TRUE(error.Message().endsWith(" on " + name));
    }
    port.Close();
    EXPECT_FALSE(port.Connected());
}

// A receive thread whose read ends when cancelled, as the drivers' here do, ends within the
// bound: it is joined with the port still open, which stays the caller's to close.
TEST(ComThreadWin, ThreadThatEndsByItselfIsJoinedWithThePortOpen) {
    QTemporaryDir links;
    SilentPty device(TestPortName(links, "silent"));
    const HANDLE handle = CreateFileW(
        reinterpret_cast<const wchar_t*>(TCustomComPort::DevicePath(device.Path()).utf16()),
        GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    TComHandOff handOff;
    TComReadAhead ahead;
    int delivered = 0;
    auto thread = std::make_unique<TComThread>(reinterpret_cast<TComHandle>(handle), &handOff,
                                               ahead, [&] { ++delivered; });
    PumpFor(200); // its one-byte read is pending now
    int released = 0;
    EXPECT_FALSE(thread->Stop([&] { ++released; }));
    EXPECT_EQ(released, 0);
    thread.reset();
    EXPECT_TRUE(CloseHandle(handle)); // still the test's to close
    EXPECT_EQ(delivered, 0);
}

// A registry key of the test's own stands for HARDWARE\DEVICEMAP\SERIALCOMM.
class RegistryPortsTest : public ::testing::Test {
protected:
    static constexpr const char* Key = "Software\\QuillmoorTest\\SERIALCOMM";
    void SetUp() override { RegDeleteTreeA(HKEY_CURRENT_USER, Key); }
    void TearDown() override { RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\QuillmoorTest"); }

    void Value(const char* name, const QByteArray& data) {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, Key, 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                                  nullptr),
                  ERROR_SUCCESS);
        const QByteArray text = data + '\0';
        RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.constData()),
                       static_cast<DWORD>(text.size()));
        RegCloseKey(key);
    }
};

TEST_F(RegistryPortsTest, ValuesGiveTheNamesSortedAsText) {
    Value("\\Device\\Serial2", "COM3");
    Value("\\Device\\Serial9", "COM10");
    Value("\\Device\\Serial1", "COM2");
    Value("\\Device\\Other", "COM2");
    QStringList names{"stale"};
    ASSERT_TRUE(RegistryComPorts(HKEY_CURRENT_USER, Key, names));
    SortComPorts(names);
    EXPECT_EQ(names, (QStringList{"COM10", "COM2", "COM2", "COM3"}));
}

TEST_F(RegistryPortsTest, MissingKeyLeavesTheListAndRaisesNothing) {
    QStringList names{"kept"};
    EXPECT_FALSE(RegistryComPorts(HKEY_CURRENT_USER, Key, names));
    EXPECT_EQ(names, QStringList{"kept"});
}

TEST_F(RegistryPortsTest, DataOverTheBufferIsTheRegistryError) {
    Value("\\Device\\Serial0", "COM1");
    Value("\\Device\\Serial1", QByteArray(300, 'C'));
    QStringList names;
    try {
        RegistryComPorts(HKEY_CURRENT_USER, Key, names);
        FAIL() << "read data longer than the buffer";
    } catch (const EComPortExt& error) {
        EXPECT_EQ(error.Code, CE_RegError);
        EXPECT_EQ(error.Message(), "COM Port Error: Registry error on EnumComPorts");
    }
}

// The machine's list: the test run maps the simulator's ports into Wine's SERIALCOMM.
TEST(EnumComPortsWin, ListsTheMappedPortsInTextOrder) {
    QStringList ports;
    EnumComPorts(ports);
    EXPECT_TRUE(ports.contains("COM5"));
    EXPECT_TRUE(ports.contains("COM21"));
    QStringList sorted = ports;
    SortComPorts(sorted);
    EXPECT_EQ(ports, sorted);
}

} // namespace
