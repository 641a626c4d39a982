#pragma once

#include <cstdint>

// One notice per change of the machine's ports, though the system may tell of one change
// more than once (Windows: as a port broadcast and as the arrival or removal of a device with
// the serial-port interface). A notice of the same kind soon after the last one is the same
// change: the search it starts finds every port present, so two devices plugged in together
// need no second one.
class PortChangeFilter {
public:
    static constexpr int64_t SameChangeMs = 1000;

    // code: the notice's kind; nowMs: a steady clock in milliseconds. True when it is a new
    // change, which gets a notice.
    bool Accept(int code, int64_t nowMs);

private:
    int lastCode_ = 0;
    int64_t lastAt_ = 0;
};
