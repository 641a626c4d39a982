#pragma once

#include "serial/ComTypes.h"

// The line settings of an open port, put into effect on its terminal device in one go:
// raw 8-bit transfer, the rate, character format, flow control and the DTR/RTS lines.
struct TComLine {
    int Rate = 9600;
    TDataBits DataBits = dbEight;
    TStopBits StopBits = sbOneStopBit;
    TComParity Parity;
    TComFlowControl FlowControl;

    // Returns 0, or the errno of the call that failed (the device keeps its settings then).
    int ApplyTo(int fd) const;
};

// Sets a rate that has no speed constant of its own (BOTHER); returns 0 or an errno.
int SetCustomRate(int fd, int rate);
