#pragma once

#include <cstdint>

// The operating system's handle of an open port: a file descriptor or a HANDLE.
using TComHandle = intptr_t;
constexpr TComHandle NoComHandle = -1;

// Settings of a serial port. The defaults are those of a freshly created port.

enum TBaudRate {
    brCustom,
    br110,
    br300,
    br600,
    br1200,
    br2400,
    br4800,
    br9600,
    br14400,
    br19200,
    br38400,
    br56000,
    br57600,
    br115200,
    br128000,
    br256000
};

// The rate a value stands for; brCustom stands for the port's custom rate.
int BaudRateValue(TBaudRate rate, int customRate);

enum TDataBits { dbFive, dbSix, dbSeven, dbEight };
enum TStopBits { sbOneStopBit, sbOne5StopBits, sbTwoStopBits };
enum TParityBits { prNone, prOdd, prEven, prMark, prSpace };
enum TDTRFlowControl { dtrDisable, dtrEnable, dtrHandshake };
enum TRTSFlowControl { rtsDisable, rtsEnable, rtsHandshake, rtsToggle };

// Events a port can wait for, as bits of a set. Only evRxChar is served by the receive thread.
enum TComEvent : uint16_t {
    evRxChar = 0x0001,
    evRxFlag = 0x0002,
    evTxEmpty = 0x0004,
    evCTS = 0x0008,
    evDSR = 0x0010,
    evRLSD = 0x0020,
    evBreak = 0x0040,
    evError = 0x0080,
    evRing = 0x0100,
    evRx80Full = 0x0400,
};
using TComEvents = uint16_t;
constexpr TComEvents AllComEvents = evRxChar | evRxFlag | evTxEmpty | evCTS | evDSR | evRLSD |
                                    evBreak | evError | evRing | evRx80Full;

struct TComParity {
    TParityBits Bits = prNone;
    bool Check = false;
    // A terminal device cannot replace bytes with parity errors; Windows can.
    bool Replace = false;
    uint8_t ReplaceChar = 0;
    bool operator==(const TComParity&) const = default;
};

struct TComFlowControl {
    bool OutCTSFlow = false;
    bool OutDSRFlow = false; // no DSR output flow on a terminal device
    TDTRFlowControl ControlDTR = dtrDisable;
    TRTSFlowControl ControlRTS = rtsDisable;
    bool XonXoffOut = false;
    bool XonXoffIn = false;
    bool DSRSensitivity = false;   // no equivalent on a terminal device
    bool TxContinueOnXoff = false; // no equivalent on a terminal device
    uint8_t XonChar = 17;
    uint8_t XoffChar = 19;
    bool operator==(const TComFlowControl&) const = default;
};

// Milliseconds. ReadInterval -1 with both read totals 0 makes a read return at once with what
// is queued; a read total above 0 lets a read wait that long for the bytes asked for. A write of
// n bytes may take WriteTotalConstant + WriteTotalMultiplier * n ms (both 0: no limit).
struct TComTimeouts {
    int32_t ReadInterval = -1;
    int32_t ReadTotalMultiplier = 0;
    int32_t ReadTotalConstant = 0;
    int32_t WriteTotalMultiplier = 100;
    int32_t WriteTotalConstant = 1000;
    bool operator==(const TComTimeouts&) const = default;
};

// Queue sizes in bytes; a terminal driver keeps its own queues, so there they are advisory.
struct TComBuffer {
    int32_t InputSize = 1024;
    int32_t OutputSize = 1024;
    bool operator==(const TComBuffer&) const = default;
};
