#include "flashing/AnswerLedger.h"

#include "flashing/DeviceProtocol.h"

#include <algorithm>

double AnswerTiming::EarliestMs(int bytes) const {
    if (!ackSeen_)
        return LineMs(bytes);
    // An acknowledgement that came before the line time shows a port with no line behind it
    // (a pseudo-terminal), which delivers at once, however long the next answer takes.
    if (fastestAckExtraMs_ < -JitterMs)
        return 0;
    return std::max(0.0, LineMs(bytes) - JitterMs);
}

double AnswerTiming::LostAfterMs(int bytes) const {
    return LineMs(bytes) + CharTimeoutMs + MarginMs + extraMs_;
}

void AnswerTiming::Observe(int bytes, double latencyMs, bool acknowledged) {
    const double extra = latencyMs - LineMs(bytes);
    if (acknowledged) {
        fastestAckExtraMs_ = ackSeen_ ? std::min(fastestAckExtraMs_, extra) : extra;
        ackSeen_ = true;
    }
    extraMs_ = std::clamp(extra, extraMs_, LongestDelayMs);
}

void AnswerLedger::Start(int bytes, bool announcements) {
    bytes_ = bytes;
    announcements_ = announcements;
    sent_.clear();
    lastActivityMs_ = 0;
    accepted_ = false;
    refused_ = false;
}

void AnswerLedger::Sent(double atMs) {
    sent_.push_back(atMs);
    refused_ = false;
    lastActivityMs_ = std::max(lastActivityMs_, atMs);
}

void AnswerLedger::Take(uint8_t byte, double atMs) {
    lastActivityMs_ = std::max(lastActivityMs_, atMs);
    // A CAN asks to cancel and is counted by the wait; an ACK may still follow it.
    const bool answer = byte == DeviceProtocol::ACK || byte == DeviceProtocol::NAK;
    if (!answer || sent_.empty())
        return;
    const bool only = sent_.size() == 1;
    const double latency = atMs - sent_.front();
    // Sooner than the copy can have left the line: an answer to something sent before it.
    // An acknowledgement is taken until the first one has shown how fast this port is.
    if (only && latency < timing_.EarliestMs(bytes_) &&
        (byte == DeviceProtocol::NAK || timing_.AckSeen()))
        return;
    if (announcements_ && byte == DeviceProtocol::NAK)
        return;
    sent_.pop_front();
    if (only)
        timing_.Observe(bytes_, latency, byte == DeviceProtocol::ACK);
    if (byte == DeviceProtocol::ACK) {
        accepted_ = true;
        announcements_ = false;
    } else if (sent_.empty()) {
        refused_ = true;
    }
}

bool AnswerLedger::Quiet(double nowMs) const {
    return nowMs - lastActivityMs_ >= timing_.LostAfterMs(bytes_);
}

bool AnswerLedger::ResendDue(double nowMs, uint8_t lastByte) const {
    if (accepted_)
        return false;
    return refused_ || (lastByte == DeviceProtocol::NAK && Quiet(nowMs));
}

bool AnswerLedger::Settled(double nowMs) const {
    return accepted_ && (sent_.empty() || Quiet(nowMs));
}
