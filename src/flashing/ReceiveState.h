#pragma once

#include <QByteArray>
#include <QList>
#include <cstdint>
#include <utility>

// What the receive handler collects and the waits poll.
struct TReceiveState {
    QByteArray reply;       // everything read since the last reset
    uint8_t lastByte = 0;   // first byte of the most recent receive event's data
    int32_t eventCount = 0; // receive events since the last reset, empty ones too

    // The first byte of each receive event that brought data, with its time on the link's
    // clock, until a wait takes them: the transfer pairs answers with what it sent.
    struct Arrival {
        uint8_t first;
        double atMs;
    };
    QList<Arrival> arrivals;

    QList<Arrival> TakeArrivals() { return std::exchange(arrivals, {}); }

    void Reset() {
        ClearReply();
        eventCount = 0;
    }
    void ClearReply() {
        reply.clear();
        lastByte = 0;
        arrivals.clear();
    }
};
