#pragma once

#include <cstdint>
#include <deque>

// How long the device takes to answer, learned from its answers during one image. An answer
// that comes before its packet can have left the line belongs to something sent earlier; how
// long an answer may take beyond the line time decides when one is given up for lost.
class AnswerTiming {
public:
    // 115200 baud, ten bits a character.
    static constexpr double LineBytesPerMs = 11.52;
    // A receiver drops a packet whose bytes stop arriving for this long and asks again.
    static constexpr double CharTimeoutMs = 1000;
    // Added to that time-out before an answer is taken as lost: a copy sent while the receiver
    // still collects the broken one would be read out of frame.
    static constexpr double MarginMs = 100;
    // How far the clocks of a write and of an arrival may be off the line's time.
    static constexpr double JitterMs = 2;
    // Answers held back longer than this are not waited for.
    static constexpr double LongestDelayMs = 10000;

    static double LineMs(int bytes) { return bytes / LineBytesPerMs; }

    // The earliest moment after the start of a write at which its answer can arrive: the line
    // time, or less where acknowledgements have come sooner (a port with no line behind it,
    // such as a pseudo-terminal).
    double EarliestMs(int bytes) const;
    // How long nothing may be heard after a copy before its answer is taken as lost.
    double LostAfterMs(int bytes) const;

    // An answer that could only be to the one copy outstanding, latency counted from the
    // start of its write.
    void Observe(int bytes, double latencyMs, bool acknowledged);
    bool AckSeen() const { return ackSeen_; }

private:
    bool ackSeen_ = false;
    double fastestAckExtraMs_ = 0; // the quickest acknowledgement's latency beyond the line time
    double extraMs_ = 0;           // the slowest answer's latency beyond the line time
};

// Pairs the device's answers with the copies of one packet (a block or EOT) sent to it. The
// receiver answers every copy it reads once, in order; so an answer belongs to the oldest copy
// that has none yet, and the next packet waits until every copy's answer is in or given up,
// lest a late one be taken for the next packet's. Before the first acknowledgement of an image
// a NAK may be the boot loader's announcement written before it saw the first packet; such a
// NAK is not taken as an answer, and only sends the packet again once nothing follows it.
class AnswerLedger {
public:
    explicit AnswerLedger(AnswerTiming& timing) : timing_(timing) {}

    // A new packet of this many bytes; announcements: NAKs may still be the boot loader's.
    void Start(int bytes, bool announcements);
    // A copy's write begins.
    void Sent(double atMs);
    // The first byte of one receive event.
    void Take(uint8_t byte, double atMs);

    bool Accepted() const { return accepted_; }
    // The packet should go out again: its latest copy was refused, or a NAK was the last thing
    // heard and nothing came for as long as an answer can take.
    bool ResendDue(double nowMs, uint8_t lastByte) const;
    // Accepted, and no other copy's answer can still arrive.
    bool Settled(double nowMs) const;
    // Copies whose answers have not been heard.
    int Unanswered() const { return static_cast<int>(sent_.size()); }

private:
    bool Quiet(double nowMs) const;

    AnswerTiming& timing_;
    int bytes_ = 0;
    bool announcements_ = false;
    std::deque<double> sent_; // write times of the copies not answered yet, oldest first
    double lastActivityMs_ = 0;
    bool accepted_ = false;
    bool refused_ = false;
};
