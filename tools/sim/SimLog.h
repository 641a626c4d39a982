#pragma once

// Diagnostic lines on stderr, only with --verbose.
namespace simlog {
void Enable(bool on);
bool Enabled();
void Line(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// Always printed (errors the user must see).
void Error(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
} // namespace simlog
