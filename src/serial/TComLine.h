#pragma once

#include "serial/ComTypes.h"

// The line settings of an open port, put into effect on its device in one go: raw 8-bit
// transfer, the rate, character format, flow control and the DTR/RTS lines.
struct TComLine {
    int Rate = 9600;
    TDataBits DataBits = dbEight;
    TStopBits StopBits = sbOneStopBit;
    TComParity Parity;
    TComFlowControl FlowControl;
    // The receive queue's size; Windows derives its XON/XOFF limits from it.
    int InputSize = 1024;

    // Returns 0, or the OS error of the call that failed (the device keeps its settings then).
    int ApplyTo(TComHandle handle) const;
};
