#include "Nmea.h"

#include <cstdio>
#include <ctime>

namespace nmea {

std::string Sentence(const std::string& body) {
    unsigned char sum = 0;
    for (const char c : body)
        sum ^= static_cast<unsigned char>(c);
    char tail[8];
    std::snprintf(tail, sizeof tail, "*%02X\r\n", sum);
    return "$" + body + tail;
}

std::vector<std::string> SecondOfOutput(long long unixSeconds) {
    const std::time_t t = static_cast<std::time_t>(unixSeconds);
    std::tm utc{};
    gmtime_r(&t, &utc);
    char hms[32];
    char dmy[32];
    std::snprintf(hms, sizeof hms, "%02d%02d%02d.00", utc.tm_hour, utc.tm_min, utc.tm_sec);
    std::snprintf(dmy, sizeof dmy, "%02d%02d%02d", utc.tm_mday, utc.tm_mon + 1, utc.tm_year % 100);
    const std::string pos = "5130.1234,N,00007.5678,W";
    return {
        Sentence("GPRMC," + std::string(hms) + ",A," + pos + ",0.0,0.0," + dmy + ",,,A"),
        Sentence("GPGGA," + std::string(hms) + "," + pos + ",1,08,0.9,45.0,M,47.0,M,,"),
        Sentence("GPGSA,A,3,04,05,09,12,17,20,24,28,,,,,1.6,0.9,1.3"),
        Sentence("GPGSV,2,1,08,04,45,120,42,05,30,210,38,09,60,045,45,12,15,300,30"),
        Sentence("GPGSV,2,2,08,17,20,090,35,20,55,180,44,24,10,330,28,28,70,270,47"),
    };
}

} // namespace nmea
