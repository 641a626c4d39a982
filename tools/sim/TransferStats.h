#pragma once

#include "SimClock.h"

#include <optional>
#include <string>
#include <vector>

// Figures of the block transfers seen from the device's side, for the benchmark.
class TransferStats {
public:
    // `late`: how long after its due time the ACK actually went out (the simulator's own delay).
    void OnAckWritten(SimTime t, SimDuration late) {
        lastAck_ = t;
        ackDelayMs_.push_back(ToMs(late));
    }
    // First byte of a packet read from the line.
    void OnPacketStart(SimTime read);
    void OnPacketReceived(size_t bytes, SimDuration lineTime);
    void OnPacketStored() { ++stored_; }
    void OnDuplicate() { ++duplicates_; }
    void OnBadPacket() { ++bad_; }
    void OnNakSent() { ++naks_; }
    void OnImageComplete(const std::string& name, const std::string& file, size_t blocks,
                         SimDuration transferTime);
    void OnImageAbandoned() { ++abandoned_; }

    std::string Render() const;
    // Replaces the file atomically; false with errno set on failure.
    bool WriteFile(const std::string& path) const;

private:
    std::vector<double> turnaroundMs_;
    std::vector<double> ackDelayMs_;
    std::optional<SimTime> lastAck_;
    size_t packets_ = 0;
    size_t packetBytes_ = 0;
    size_t stored_ = 0;
    size_t duplicates_ = 0;
    size_t bad_ = 0;
    size_t naks_ = 0;
    size_t images_ = 0;
    size_t abandoned_ = 0;
    SimDuration lineTime_{};
    SimDuration transferTime_{};
    std::string lastName_;
    std::string lastFile_;
    size_t lastBlocks_ = 0;
    SimDuration lastTransfer_{};
};
