#pragma once

#include "flashing/ReceiveState.h"
#include "flashing/SendBuffer.h"

#include <QByteArrayView>
#include <QElapsedTimer>
#include <QString>

class TCustomComPort;
class UpdaterView;

// The one port object with its receive state and send buffer.
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
