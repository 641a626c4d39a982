#include "LineReceiver.h"

#include <algorithm>

void LineReceiver::Push(const uint8_t* data, size_t count, SimTime now, SimDuration charTime,
                        bool garbled) {
    const SimDuration step = pace_ ? charTime : SimDuration::zero();
    SimTime arrival = std::max(now, lastArrival_);
    for (size_t i = 0; i < count; ++i) {
        arrival += step;
        queue_.push_back(Byte{data[i], now, arrival, garbled});
    }
    lastArrival_ = arrival;
}

SimTime LineReceiver::ArrivalOfNth(size_t n) const {
    if (queue_.empty())
        return kNever;
    const size_t index = std::min(std::max<size_t>(n, 1), queue_.size()) - 1;
    return queue_[index].arrival;
}
