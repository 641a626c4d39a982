#include "serial/TComThreadEnd.h"

bool TComThreadEnd::Run(int boundMs) const {
    const bool ended = endsWithin(boundMs);
    const bool release = !ended && releasePort;
    if (release)
        releasePort();
    join();
    return release;
}
