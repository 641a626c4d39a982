#pragma once

#include "serial/ComTypes.h"
#include "serial/EComPort.h"
#include "serial/TComReadAhead.h"
#include "serial/TComThread.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>

// One serial port as an object, over the device the port name stands for (DevicePath). Open
// takes the device exclusively and puts every setting into effect; setters take effect at once
// while open and at the next Open while closed. While open, a receive thread reports arrivals
// to the thread that created the port, where OnRxChar is called with the number of waiting
// bytes. All calls belong to that thread.
//
// Unix: the terminal device /dev/NAME (a name with '/' is a path), held with an advisory lock,
// which also holds against root, and TIOCEXCL. Windows: \\.\NAME, opened with no sharing.
class TCustomComPort : public QObject {
    Q_OBJECT
public:
    explicit TCustomComPort(QObject* parent = nullptr);
    ~TCustomComPort() override;

    QString Port() const { return port_; }
    // A different name reopens an open port under it.
    void SetPort(const QString& name);
    TBaudRate BaudRate() const { return baudRate_; }
    void SetBaudRate(TBaudRate rate);
    int CustomBaudRate() const { return customBaudRate_; }
    void SetCustomBaudRate(int rate);
    TDataBits DataBits() const { return dataBits_; }
    void SetDataBits(TDataBits bits);
    TStopBits StopBits() const { return stopBits_; }
    void SetStopBits(TStopBits bits);
    const TComParity& Parity() const { return parity_; }
    void SetParity(const TComParity& parity);
    const TComFlowControl& FlowControl() const { return flowControl_; }
    void SetFlowControl(const TComFlowControl& flow);
    const TComTimeouts& Timeouts() const { return timeouts_; }
    void SetTimeouts(const TComTimeouts& timeouts);
    const TComBuffer& Buffer() const { return buffer_; }
    // Odd sizes are reduced by one.
    void SetBuffer(const TComBuffer& buffer);
    // Without evRxChar no receive thread runs; takes effect at the next Open.
    TComEvents Events() const { return events_; }
    void SetEvents(TComEvents events) { events_ = events; }

    bool Connected() const { return handle_ != NoComHandle; }

    // The device path a port name stands for.
    static QString DevicePath(const QString& portName);
    // Whether an open that failed with this system error found the port held by someone else.
    static bool InUseError(uint32_t osError);
    // Why an open failed with this system error, in the system's words ("No such file or
    // directory"); a path that is no terminal says so.
    static QString OpenErrorText(uint32_t osError);

    // Raises EComPortExt code 1 when the device cannot be opened or is held by someone else,
    // code 7 when it refuses the line settings; the port stays closed then.
    void Open();
    // Stops the receive thread (running a notification that is on its way, so its handler
    // can still read), discards both queues and releases the device. Never raises: a device
    // that vanished refuses the purge, and the port must still close. Bounded: a receive
    // thread that has not ended within TComThread::EndBoundMs is ended by releasing the device
    // first (the notification on its way is dropped then).
    void Close();
    // Discards what is queued in either direction; never raises.
    void PurgeBuffers(bool input, bool output);
    // Blocks until every byte is handed to the driver or the write time-out has passed, and
    // returns how many were taken; raises code 2 when the device refuses the write.
    int WriteBytes(const void* buffer, int count);
    // Takes at most count queued bytes (8-bit); returns at once unless read time-outs are set.
    // Raises code 3 when the device refuses the read.
    int ReadText(QByteArray& str, int count);
    // Bytes in the receive queue; raises code 10 when the device cannot tell.
    int WaitingCount();

    // True while the port is open but its receive thread no longer watches the device,
    // because it hung up or a handler raised; nothing more arrives until Close and Open.
    bool ReceiveDetached() const;
    // How often the receive thread has woken since Open (0 without one): its cost while idle.
    long long ReceiveWakeups() const;

    // Called on the window thread with the port and the number of waiting bytes (above 0).
    // An exception from it ends the receive thread silently.
    std::function<void(TCustomComPort* sender, int count)> OnRxChar;

protected:
    virtual void OpenHandle();
    virtual void ReleaseHandle();
    virtual void ApplySettings();
    virtual void ApplyLineSettings();
    virtual void ApplyTimeouts();
    virtual void ApplyBufferSizes();
    // Runs on the window thread for each notification of the receive thread.
    virtual void DeliverRxChar();

private:
    [[noreturn]] void Raise(uint8_t code, int osError) const;

    QString port_ = QStringLiteral("COM1");
    TBaudRate baudRate_ = br9600;
    int customBaudRate_ = 9600;
    TDataBits dataBits_ = dbEight;
    TStopBits stopBits_ = sbOneStopBit;
    TComParity parity_;
    TComFlowControl flowControl_;
    TComTimeouts timeouts_;
    TComBuffer buffer_;
    TComEvents events_ = AllComEvents;

    TComHandle handle_ = NoComHandle;
    // Puts back what Open changed on the device beyond its line settings (Unix: the driver's
    // low-latency flag), when the port lets the device go.
    std::function<void()> restoreDevice_;
    // Bytes the receive thread took ahead of the window thread's reads (Windows).
    TComReadAhead readAhead_;
    TComHandOff handOff_;
    std::unique_ptr<TComThread> thread_;
};

// The port as windows place it; all settings are public on the base already.
class TComPort : public TCustomComPort {
    Q_OBJECT
public:
    using TCustomComPort::TCustomComPort;
};
