#pragma once

#include <QByteArray>
#include <cstdint>

// What the receive handler collects and the waits poll.
struct TReceiveState {
    QByteArray reply;       // everything read since the last reset
    uint8_t lastByte = 0;   // first byte of the most recent receive event's data
    int32_t eventCount = 0; // receive events since the last reset, empty ones too

    void Reset() {
        ClearReply();
        eventCount = 0;
    }
    void ClearReply() {
        reply.clear();
        lastByte = 0;
    }
};
