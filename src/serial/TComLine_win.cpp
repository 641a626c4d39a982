#include "serial/TComDcb.h"
#include "serial/TComLine.h"

namespace {

DWORD DtrControl(TDTRFlowControl control) {
    switch (control) {
    case dtrEnable:
        return DTR_CONTROL_ENABLE;
    case dtrHandshake:
        return DTR_CONTROL_HANDSHAKE;
    case dtrDisable:
        break;
    }
    return DTR_CONTROL_DISABLE;
}

DWORD RtsControl(TRTSFlowControl control) {
    switch (control) {
    case rtsEnable:
        return RTS_CONTROL_ENABLE;
    case rtsHandshake:
        return RTS_CONTROL_HANDSHAKE;
    case rtsToggle:
        return RTS_CONTROL_TOGGLE;
    case rtsDisable:
        break;
    }
    return RTS_CONTROL_DISABLE;
}

} // namespace

DCB ComLineDcb(const TComLine& line) {
    DCB dcb{};
    dcb.DCBlength = sizeof(DCB);
    dcb.BaudRate = static_cast<DWORD>(line.Rate);
    dcb.fBinary = 1;
    dcb.fParity = line.Parity.Check;
    dcb.fOutxCtsFlow = line.FlowControl.OutCTSFlow;
    dcb.fOutxDsrFlow = line.FlowControl.OutDSRFlow;
    dcb.fDtrControl = DtrControl(line.FlowControl.ControlDTR);
    dcb.fDsrSensitivity = line.FlowControl.DSRSensitivity;
    dcb.fTXContinueOnXoff = line.FlowControl.TxContinueOnXoff;
    dcb.fOutX = line.FlowControl.XonXoffOut;
    dcb.fInX = line.FlowControl.XonXoffIn;
    dcb.fErrorChar = line.Parity.Check && line.Parity.Replace;
    dcb.fNull = 0;
    dcb.fRtsControl = RtsControl(line.FlowControl.ControlRTS);
    dcb.XonLim = static_cast<WORD>(line.InputSize / 4);
    dcb.XoffLim = static_cast<WORD>(line.InputSize / 4);
    dcb.ByteSize = static_cast<BYTE>(5 + line.DataBits);
    dcb.Parity = static_cast<BYTE>(line.Parity.Bits);
    dcb.StopBits = static_cast<BYTE>(line.StopBits);
    dcb.XonChar = static_cast<char>(line.FlowControl.XonChar);
    dcb.XoffChar = static_cast<char>(line.FlowControl.XoffChar);
    dcb.ErrorChar = dcb.fErrorChar ? static_cast<char>(line.Parity.ReplaceChar) : 0;
    return dcb;
}

int TComLine::ApplyTo(TComHandle handle) const {
    if (Rate <= 0)
        return ERROR_INVALID_PARAMETER;
    DCB dcb = ComLineDcb(*this);
    if (!SetCommState(reinterpret_cast<HANDLE>(handle), &dcb))
        return static_cast<int>(GetLastError());
    return 0;
}
