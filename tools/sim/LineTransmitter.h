#pragma once

#include "SimClock.h"

#include <deque>
#include <string>
#include <vector>

// What the device sends, paced against absolute deadlines: each byte goes out one character
// time after the one before it, never earlier than its chunk allows.
class LineTransmitter {
public:
    struct Chunk {
        std::string bytes;
        int rate = 0;        // the device's baud rate while sending it
        SimTime notBefore{}; // earliest time of the first byte
        bool burst = false;  // all bytes in one write (one receive event on the far side)
        bool noise = false;  // line noise, not device output
        bool ack = false;    // first byte is an ACK (turnaround figures)
        size_t sent = 0;
    };
    struct Piece {
        std::string bytes;
        int rate = 0;
        bool noise = false;
        bool ack = false;
        SimTime due{}; // when its first byte was due
    };

    explicit LineTransmitter(bool pace) : pace_(pace) {}

    void Send(Chunk chunk);
    // Places the chunk right after the one on the line (a reply waits for the sentence being
    // sent, not for the whole queue).
    void SendAfterCurrent(Chunk chunk);
    void Clear() { queue_.clear(); }
    bool Empty() const { return queue_.empty(); }

    // When the next byte is due, kNever when nothing is queued.
    SimTime NextDue() const;
    // Takes every byte due at `now`, grouped into pieces that can be written at once.
    std::vector<Piece> TakeDue(SimTime now);

private:
    SimDuration CharTimeOf(const Chunk& c) const {
        return pace_ ? CharTime(c.rate, 10) : SimDuration::zero();
    }

    bool pace_;
    std::deque<Chunk> queue_;
    SimTime lineFree_{};
};
