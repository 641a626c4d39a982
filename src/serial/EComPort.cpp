#include "serial/EComPort.h"

#include "serial/EnumComPorts.h"
#include "serial/TComPort.h"

#include <array>

QString ComErrorText(uint8_t code) {
    static const std::array<const char*, 23> texts = {
        "Unable to open com port",
        "WriteFile function failed",
        "ReadFile function failed",
        "Invalid Async parameter",
        "PurgeComm function failed",
        "Unable to get async status",
        "SetCommState function failed",
        "SetCommTimeouts failed",
        "SetupComm function failed",
        "ClearCommError function failed",
        "GetCommModemStatus function failed",
        "EscapeCommFunction function failed",
        "TransmitCommChar function failed",
        "Cannot set property while connected",
        "EnumPorts function failed",
        "Failed to store settings",
        "Failed to load settings",
        "Link (un)registration failed",
        "Cannot change led state if ComPort is selected",
        "Cannot wait for event if event thread is created",
        "WaitForEvent method failed",
        "A component is linked to OnRxBuf event",
        "Registry error",
    };
    if (code >= 1 && code <= texts.size())
        return QString::fromLatin1(texts[code - 1]);
    return QStringLiteral("Unknown Error #%1").arg(code);
}

EComPort::EComPort(const QString& portName, uint8_t code)
    : EComPort(code, portName + QStringLiteral(" Error: ") + ComErrorText(code)) {}

namespace {
// ": Permission denied (group dialout: ...)": the system's words, and for a port of a group
// the user is not in, how to join it.
QString OpenFailureReason(uint32_t osError, const QString& portName) {
    QString reason = QStringLiteral(": ") + TCustomComPort::OpenErrorText(osError);
    const QString group = ForbiddingGroup(TCustomComPort::DevicePath(portName));
    if (!group.isEmpty())
        reason += QStringLiteral(" (group %1: add yourself with sudo usermod -aG %1 $USER and "
                                 "log in again)")
                      .arg(group);
    return reason;
}
} // namespace

EComPortExt::EComPortExt(uint8_t code, uint32_t osError, const QString& portName)
    : EComPort(code, QStringLiteral("COM Port Error: ") + ComErrorText(code) +
                         QStringLiteral(" on ") + portName +
                         // A missing device, one in use and one the user may not open differ
                         // in what the user must do: the system's reason says which.
                         (code == CE_OpenFailed && osError != 0 ? OpenFailureReason(osError, portName)
                                                                : QString())),
      WinCode(osError) {}

EComPortClaimed::EComPortClaimed(uint32_t osError, const QString& portName)
    : EComPortExt(QStringLiteral("COM Port Error: the port is in use by another program: ") +
                      portName,
                  CE_OpenFailed, osError) {}
