#include "updater/PortChangeFilter.h"

bool PortChangeFilter::Accept(int code, int64_t nowMs) {
    const bool same = code == lastCode_ && nowMs - lastAt_ < SameChangeMs;
    if (!same) {
        lastCode_ = code;
        lastAt_ = nowMs;
    }
    return !same;
}
