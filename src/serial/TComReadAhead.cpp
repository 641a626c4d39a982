#include "serial/TComReadAhead.h"

std::unique_lock<std::mutex> TComReadAhead::Claim(bool& ended) {
    std::unique_lock guard(lock_);
    ended = true;
    if (pending_) {
        ended = pending_();
        if (ended)
            pending_ = nullptr;
    }
    return guard;
}

QByteArray TComReadAhead::Take(int count) {
    QByteArray taken = bytes_.left(count);
    bytes_.remove(0, taken.size());
    return taken;
}
