#pragma once

#include <string>
#include <vector>

namespace nmea {
// "$" + body + "*" + XOR checksum in two hex digits + CR LF.
std::string Sentence(const std::string& body);

// One second's worth of receiver output (RMC, GGA, GSA, GSV) for the given UTC time.
std::vector<std::string> SecondOfOutput(long long unixSeconds);
} // namespace nmea
