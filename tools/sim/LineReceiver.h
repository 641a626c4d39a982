#pragma once

#include "SimClock.h"

#include <cstddef>
#include <cstdint>
#include <deque>

// Bytes the host wrote, each stamped with the time it was read from the master and the time
// its last bit arrived at the host's line rate.
class LineReceiver {
public:
    struct Byte {
        uint8_t value = 0;
        SimTime read{};
        SimTime arrival{};
        bool garbled = false; // host's rate or framing differs from the device's
    };

    explicit LineReceiver(bool pace) : pace_(pace) {}

    void Push(const uint8_t* data, size_t count, SimTime now, SimDuration charTime, bool garbled);
    bool Empty() const { return queue_.empty(); }
    const Byte& Front() const { return queue_.front(); }
    void Pop() { queue_.pop_front(); }
    // Arrival of the n-th queued byte (1-based), or of the last one if fewer are queued.
    SimTime ArrivalOfNth(size_t n) const;

private:
    bool pace_;
    std::deque<Byte> queue_;
    SimTime lastArrival_{};
};
