#include "serial/TComPort.h"

#include "serial/TComLine.h"

#include <system_error>

int BaudRateValue(TBaudRate rate, int customRate) {
    switch (rate) {
    case brCustom:
        return customRate;
    case br110:
        return 110;
    case br300:
        return 300;
    case br600:
        return 600;
    case br1200:
        return 1200;
    case br2400:
        return 2400;
    case br4800:
        return 4800;
    case br9600:
        return 9600;
    case br14400:
        return 14400;
    case br19200:
        return 19200;
    case br38400:
        return 38400;
    case br56000:
        return 56000;
    case br57600:
        return 57600;
    case br115200:
        return 115200;
    case br128000:
        return 128000;
    case br256000:
        return 256000;
    }
    return customRate;
}

TCustomComPort::TCustomComPort(QObject* parent) : QObject(parent) {}

TCustomComPort::~TCustomComPort() {
    Close();
}

void TCustomComPort::Raise(uint8_t code, int osError) const {
    throw EComPortExt(code, static_cast<uint32_t>(osError), port_);
}

void TCustomComPort::SetPort(const QString& name) {
    if (name == port_)
        return;
    port_ = name;
    if (Connected()) {
        Close();
        Open();
    }
}

void TCustomComPort::SetBaudRate(TBaudRate rate) {
    if (rate == baudRate_)
        return;
    baudRate_ = rate;
    ApplyLineSettings();
}

void TCustomComPort::SetCustomBaudRate(int rate) {
    if (rate == customBaudRate_)
        return;
    customBaudRate_ = rate;
    if (baudRate_ == brCustom)
        ApplyLineSettings();
}

void TCustomComPort::SetDataBits(TDataBits bits) {
    if (bits == dataBits_)
        return;
    dataBits_ = bits;
    ApplyLineSettings();
}

void TCustomComPort::SetStopBits(TStopBits bits) {
    if (bits == stopBits_)
        return;
    stopBits_ = bits;
    ApplyLineSettings();
}

void TCustomComPort::SetParity(const TComParity& parity) {
    if (parity == parity_)
        return;
    parity_ = parity;
    ApplyLineSettings();
}

void TCustomComPort::SetFlowControl(const TComFlowControl& flow) {
    if (flow == flowControl_)
        return;
    flowControl_ = flow;
    ApplyLineSettings();
}

void TCustomComPort::SetTimeouts(const TComTimeouts& timeouts) {
    if (timeouts == timeouts_)
        return;
    timeouts_ = timeouts;
    ApplyTimeouts();
}

void TCustomComPort::SetBuffer(const TComBuffer& buffer) {
    TComBuffer even = buffer;
    even.InputSize -= even.InputSize % 2;
    even.OutputSize -= even.OutputSize % 2;
    if (even == buffer_)
        return;
    buffer_ = even;
    ApplyBufferSizes();
}

void TCustomComPort::Open() {
    if (Connected())
        return;
    OpenHandle();
    try {
        ApplySettings();
        if (events_ & evRxChar)
            thread_ = std::make_unique<TComThread>(handle_, &handOff_, readAhead_,
                                                   [this] { DeliverRxChar(); });
    } catch (const std::system_error& error) {
        ReleaseHandle();
        Raise(CE_OpenFailed, error.code().value());
    } catch (...) {
        ReleaseHandle();
        throw;
    }
}

void TCustomComPort::ApplySettings() {
    ApplyBufferSizes();
    ApplyLineSettings();
    ApplyTimeouts();
}

void TCustomComPort::ApplyLineSettings() {
    if (!Connected())
        return;
    TComLine line;
    line.Rate = BaudRateValue(baudRate_, customBaudRate_);
    line.DataBits = dataBits_;
    line.StopBits = stopBits_;
    line.Parity = parity_;
    line.FlowControl = flowControl_;
    line.InputSize = buffer_.InputSize;
    if (int error = line.ApplyTo(handle_))
        Raise(CE_SetStateFailed, error);
}

void TCustomComPort::Close() {
    if (!Connected())
        return;
    if (thread_) {
        // A driver that never ends the thread's read holds the thread; it ends the read when
        // the port is released, and the port is closed then.
        const bool released = thread_->Stop([this] { ReleaseHandle(); });
        thread_.reset();
        if (released) {
            // What was read ahead before belongs to no later Open.
            auto guard = readAhead_.Lock();
            readAhead_.Clear();
            return;
        }
    }
    // A device that vanished refuses the purge; the port closes all the same.
    PurgeBuffers(true, true);
    ReleaseHandle();
}

bool TCustomComPort::ReceiveDetached() const {
    return Connected() && (!thread_ || thread_->Detached());
}

long long TCustomComPort::ReceiveWakeups() const {
    return thread_ ? thread_->Wakeups() : 0;
}

void TCustomComPort::DeliverRxChar() {
    const int count = WaitingCount();
    if (count > 0 && OnRxChar)
        OnRxChar(this, count);
}
