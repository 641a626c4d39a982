#include "web/TransferFormat.h"
#include "web/UpdateServer.h"
#include "web/WebGet.h"

#include <gtest/gtest.h>

namespace {
const QLocale English(QLocale::English, QLocale::UnitedStates);
const QLocale German(QLocale::German, QLocale::Germany);
} // namespace

TEST(TransferFormat, SizesAndRates) {
    struct Case {
        uint64_t value;
        const char* size;
        const char* rate;
    } cases[] = {
        {0, "0 bytes", "0 bytes/sec"},
        {999, "999 bytes", "999 bytes/sec"},
        {1000, "1.00 Kb", "1.00 Kb/sec"},
        {1500, "1.50 Kb", "1.50 Kb/sec"},
        {999994, "999.99 Kb", "999.99 Kb/sec"},
        {1000000, "1.00 Mb", "1.00 Mb/sec"},
        {2500000, "2.50 Mb", "2.50 Mb/sec"},
        // Past 4 GB the size is still right, and no group separator creeps in.
        {5000000000ULL, "5000.00 Mb", "5000.00 Mb/sec"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FormatSize(c.value, English), c.size) << c.value;
        EXPECT_EQ(FormatRate(static_cast<int64_t>(c.value), English), c.rate) << c.value;
    }
}

TEST(TransferFormat, CommaLocale) {
    EXPECT_EQ(FormatSize(1500, German), "1,50 Kb");
    EXPECT_EQ(FormatSize(2500000, German), "2,50 Mb");
    EXPECT_EQ(FormatRate(5000000000LL, German), "5000,00 Mb/sec");
    EXPECT_EQ(FormatSize(999, German), "999 bytes");
}

TEST(TransferFormat, TimeLeft) {
    // Half of the file took elapsed ms, so the other half takes as long.
    struct Case {
        uint64_t elapsedMs;
        const char* text;
    } cases[] = {
        {29000, "29 sec."},      {30000, "30 sec."}, {31000, "1 minutes"},
        {1800000, "30 minutes"}, {1860000, "0h 31"}, {5400000, "1h 30"},
        {500, "0 sec."},         {1500, "2 sec."},   {2500, "2 sec."},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FormatTimeLeft(c.elapsedMs, 1000, 2000), c.text) << c.elapsedMs;
    // Nothing to estimate from, or a total that is unknown or already passed.
    EXPECT_EQ(FormatTimeLeft(1000, 0, 2000), "");
    EXPECT_EQ(FormatTimeLeft(1000, 500, 0), "");
    EXPECT_EQ(FormatTimeLeft(1000, 3000, 2000), "");
    // Large files over long times do not overflow.
    EXPECT_EQ(FormatTimeLeft(3600000ULL * 10, 1ULL << 40, 1ULL << 41), "10h 0");
}

TEST(TransferFormat, ProgressPercentRoundsHalfToEven) {
    struct Case {
        uint64_t received, total;
        int percent;
    } cases[] = {
        {1, 200, 0},     {3, 200, 2},     {5, 200, 2},
        {7, 200, 4},     {199, 200, 100}, {50, 0, 0},
        {300, 200, 100}, {0, 200, 0},     {(1ULL << 33), (1ULL << 34), 50},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ProgressPercent(c.received, c.total), c.percent) << c.received << "/" << c.total;
}

TEST(UpdateServer, AddressFromEnvironment) {
    const QByteArray saved = qgetenv("QLM_UPDATE_SERVER");
    qunsetenv("QLM_UPDATE_SERVER");
    EXPECT_EQ(UpdateServer::BaseUrl(), "http://updates.quillmoor.example");
    EXPECT_EQ(UpdateServer::PackageUrl(),
              "http://updates.quillmoor.example/~plinth-works/QLM/QLMUpdate.zip");
    qputenv("QLM_UPDATE_SERVER", "https://127.0.0.1:8443/mirror/");
    EXPECT_EQ(UpdateServer::VersionFileUrl(),
              "https://127.0.0.1:8443/mirror/~plinth-works/QLM/Firmware.dat");
    qputenv("QLM_UPDATE_SERVER", "");
    EXPECT_EQ(UpdateServer::BaseUrl(), "http://updates.quillmoor.example");
    if (saved.isNull())
        qunsetenv("QLM_UPDATE_SERVER");
    else
        qputenv("QLM_UPDATE_SERVER", saved);
}

TEST(UrlParts, NameAndServer) {
    struct Case {
        const char* url;
        const char* name;
        const char* server;
    } cases[] = {
        {"http://host.example/~plinth-works/QLM/QLMUpdate.zip", "QLMUpdate.zip", "host.example"},
        {"http://127.0.0.1:8080/a/pkg.zip?v=2&x=1", "pkg.zip?v=2&x=1", "127.0.0.1:8080"},
        {"https://user:pw@host:444/dir\\file.bin", "file.bin", "host:444"},
        {"http://host/a@b/c.zip", "c.zip", "host"},
        {"host/only", "only", "host"},
        {"http://host/", "", "host"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(UrlFileName(c.url), c.name) << c.url;
        EXPECT_EQ(UrlServerPart(c.url), c.server) << c.url;
    }
}
