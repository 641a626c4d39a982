#pragma once

#include "app/Errors.h"

#include <QString>
#include <cstdint>

// Error codes of the serial port component.
enum TComErrorCode : uint8_t {
    CE_OpenFailed = 1,
    CE_WriteFailed = 2,
    CE_ReadFailed = 3,
    CE_InvalidAsync = 4,
    CE_PurgeFailed = 5,
    CE_AsyncCheck = 6,
    CE_SetStateFailed = 7,
    CE_TimeoutsFailed = 8,
    CE_SetupComFailed = 9,
    CE_ClearComFailed = 10,
    CE_ModemStatFailed = 11,
    CE_EscapeComFailed = 12,
    CE_TransmitFailed = 13,
    CE_ConnChangeProp = 14,
    CE_EnumPortsFailed = 15,
    CE_StoreFailed = 16,
    CE_LoadFailed = 17,
    CE_RegFailed = 18,
    CE_LedStateFailed = 19,
    CE_ThreadCreated = 20,
    CE_WaitFailed = 21,
    CE_HasLink = 22,
    CE_RegError = 23,
};

// The text of an error code; "Unknown Error #" and the number for codes without one.
QString ComErrorText(uint8_t code);

// An error of the serial port component: port name + " Error: " + the code's text.
class EComPort : public EQlmError {
public:
    EComPort(const QString& portName, uint8_t code);
    uint8_t Code;

protected:
    EComPort(uint8_t code, const QString& message) : EQlmError(message), Code(code) {}
};

// A failed operating-system call: "COM Port Error: " + the code's text + " on " + port name.
// WinCode holds the OS error number (errno), which the message leaves out.
class EComPortExt : public EComPort {
public:
    EComPortExt(uint8_t code, uint32_t osError, const QString& portName);
    uint32_t WinCode;

protected:
    EComPortExt(const QString& message, uint8_t code, uint32_t osError)
        : EComPort(code, message), WinCode(osError) {}
};

// Another program (or another device's conversation in this one) has claimed the port for
// its update or probe (PortClaim): an open refused before the port is touched. Code 1 like
// any refused open, with a text of its own; WinCode holds the system's in-use error.
class EComPortClaimed : public EComPortExt {
public:
    EComPortClaimed(uint32_t osError, const QString& portName);
};
