#pragma once

#include <chrono>
#include <cstdint>

// Monotonic time used for all pacing deadlines.
using SimClock = std::chrono::steady_clock;
using SimTime = SimClock::time_point;
using SimDuration = std::chrono::nanoseconds;

inline constexpr SimTime kNever = SimTime::max();

inline SimDuration Millis(int64_t ms) {
    return std::chrono::milliseconds(ms);
}

// Time one character occupies the line: start bit + data bits (+ parity) + stop bits.
inline SimDuration CharTime(int baud, int bitsPerChar) {
    if (baud <= 0)
        return SimDuration::zero();
    return SimDuration(static_cast<int64_t>(1e9 * bitsPerChar / baud + 0.5));
}

inline double ToMs(SimDuration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}
