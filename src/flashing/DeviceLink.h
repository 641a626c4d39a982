#pragma once

#include "flashing/ReceiveState.h"
#include "flashing/SendBuffer.h"
#include "serial/PortClaim.h"

#include <QByteArrayView>
#include <QElapsedTimer>
#include <QString>

class TCustomComPort;
class UpdaterView;

// The one port object with its receive state and send buffer, and its claims on ports.
class TDeviceLink {
public:
    TDeviceLink(TCustomComPort& port, UpdaterView& view);

    // The port's received-characters handler.
    void ComPort1RxChar(TCustomComPort* sender, int count);

    // Closes the port if open (ignoring close errors), names it (the selector's text for
    // an empty name) and sets 9600 baud. The port is left closed.
    void SetupPort(const QString& name);
    // Closes the port if open; any close error is ignored.
    void ClosePortIfOpen();

    // Claims the port (the selector's text for an empty name) for this link, also when the
    // link holds it already, and gives the device to release; empty when the port cannot be
    // claimed at all, which its open will explain. Raises EComPortClaimed when another
    // program or another link holds it.
    QString ClaimPort(const QString& name);
    void ReleaseClaim(const QString& device);

    // Zeroes the send buffer, places the sentence and writes exactly its length.
    void SendSentence(QByteArrayView sentence);
    // Writes the first count bytes of the send buffer.
    void WriteSendBuffer(int count);

    // Raises the port's error when the open port no longer hears the device (it vanished):
    // a wait counting receive events would otherwise never end.
    void CheckPortAlive() const;

    // Milliseconds on the clock that stamps arrivals.
    double NowMs() const { return clock_.nsecsElapsed() / 1e6; }

    TCustomComPort& Port() { return port_; }
    TReceiveState& Rx() { return rx_; }
    TSendBuffer& SendBuffer() { return send_; }

private:
    TCustomComPort& port_;
    UpdaterView& view_;
    TReceiveState rx_;
    TSendBuffer send_;
    QByteArray readBuffer_;
    QElapsedTimer clock_;
    PortClaim claim_;
};

// Holds the link's claim on a port for a scope, so that no other program takes the port
// while the scope closes and reopens it; the claim ends with the scope however it ends.
class PortClaimScope {
public:
    // An empty name means the selector's text. Raises as TDeviceLink::ClaimPort does.
    PortClaimScope(TDeviceLink& link, const QString& name)
        : link_(link), device_(link.ClaimPort(name)) {}
    ~PortClaimScope() { link_.ReleaseClaim(device_); }
    PortClaimScope(const PortClaimScope&) = delete;
    PortClaimScope& operator=(const PortClaimScope&) = delete;

private:
    TDeviceLink& link_;
    QString device_;
};

// Closes the link's port however the scope that holds it ends.
class PortCloser {
public:
    explicit PortCloser(TDeviceLink& link) : link_(link) {}
    ~PortCloser() { link_.ClosePortIfOpen(); }
    PortCloser(const PortCloser&) = delete;
    PortCloser& operator=(const PortCloser&) = delete;

private:
    TDeviceLink& link_;
};
