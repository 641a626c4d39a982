#include "serial/PortClaim.h"

#include <algorithm>

PortClaim::~PortClaim() {
    for (const Held& held : held_)
        Free(held.device, held.handle);
}

PortClaim::Result PortClaim::Claim(const QString& portName) {
    Result result;
    result.device = DeviceOf(portName);
    if (result.device.isEmpty())
        return result;
    const auto known = std::find_if(held_.begin(), held_.end(),
                                    [&](const Held& h) { return h.device == result.device; });
    if (known != held_.end()) {
        ++known->depth;
        result.status = Status::Claimed;
        return result;
    }
    Handle handle = 0;
    result.status = Take(result.device, handle, result.osError);
    if (result.status == Status::Claimed)
        held_.push_back(Held{result.device, 1, handle});
    return result;
}

void PortClaim::Release(const QString& device) {
    const auto known =
        std::find_if(held_.begin(), held_.end(), [&](const Held& h) { return h.device == device; });
    if (known == held_.end() || --known->depth > 0)
        return;
    Free(known->device, known->handle);
    held_.erase(known);
}

bool PortClaim::Holds(const QString& device) const {
    return std::any_of(held_.begin(), held_.end(),
                       [&](const Held& h) { return h.device == device; });
}
