#include "SimLog.h"

#include "SimClock.h"

#include <cstdarg>
#include <cstdio>

namespace simlog {
namespace {
bool verbose = false;
const SimTime start = SimClock::now();

void Write(const char* fmt, va_list args) {
    const double secs = std::chrono::duration<double>(SimClock::now() - start).count();
    char text[1024];
    std::vsnprintf(text, sizeof text, fmt, args);
    std::fprintf(stderr, "[sim %9.3f] %s\n", secs, text);
}
} // namespace

void Enable(bool on) {
    verbose = on;
}
bool Enabled() {
    return verbose;
}

void Line(const char* fmt, ...) {
    if (!verbose)
        return;
    va_list args;
    va_start(args, fmt);
    Write(fmt, args);
    va_end(args);
}

void Error(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    Write(fmt, args);
    va_end(args);
}
} // namespace simlog
