#include "flashing/DeviceLink.h"

#include "flashing/UpdaterView.h"
#include "serial/TComPort.h"

#include <cerrno>

TDeviceLink::TDeviceLink(TCustomComPort& port, UpdaterView& view) : port_(port), view_(view) {
    clock_.start();
}

void TDeviceLink::ComPort1RxChar(TCustomComPort* /*sender*/, int count) {
    ++rx_.eventCount;
    if (count <= 0)
        return;
    readBuffer_.clear();
    const int got = port_.ReadText(readBuffer_, count);
    if (got <= 0 || readBuffer_.isEmpty())
        return;
    rx_.lastByte = static_cast<uint8_t>(readBuffer_.at(0));
    rx_.reply.append(readBuffer_);
    rx_.arrivals.append({rx_.lastByte, NowMs()});
}

void TDeviceLink::SetupPort(const QString& name) {
    ClosePortIfOpen();
    port_.SetPort(name.isEmpty() ? view_.PortText() : name);
    port_.SetBaudRate(br9600);
}

void TDeviceLink::ClosePortIfOpen() {
    try {
        if (port_.Connected())
            port_.Close();
    } catch (...) {
        // A port that fails to close is as good as closed for what follows.
    }
}

QString TDeviceLink::ClaimPort(const QString& name) {
    const QString port = name.isEmpty() ? view_.PortText() : name;
    const PortClaim::Result claim = claim_.Claim(port);
    if (claim.status == PortClaim::Status::InUse)
        throw EComPortClaimed(claim.osError, port);
    return claim.status == PortClaim::Status::Claimed ? claim.device : QString();
}

void TDeviceLink::ReleaseClaim(const QString& device) {
    if (!device.isEmpty())
        claim_.Release(device);
}

void TDeviceLink::SendSentence(QByteArrayView sentence) {
    WriteSendBuffer(send_.Compose(sentence));
}

void TDeviceLink::WriteSendBuffer(int count) {
    port_.WriteBytes(send_.Data(), count);
}

void TDeviceLink::CheckPortAlive() const {
    if (port_.Connected() && port_.ReceiveDetached())
        throw EComPortExt(CE_WaitFailed, EIO, port_.Port());
}
