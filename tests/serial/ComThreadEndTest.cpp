// How Close ends a receive thread: within the bound it is joined as it is; past it the port is
// released before the join, since only that makes a driver end a read it ignores the cancel of.
#include "serial/TComThreadEnd.h"

#include <gtest/gtest.h>
#include <ostream>
#include <string>
#include <vector>

namespace {

struct EndCase {
    const char* name;
    bool endsInTime;
    bool canRelease;
    std::vector<std::string> steps;
    bool released;
};

void PrintTo(const EndCase& c, std::ostream* out) {
    *out << c.name;
}

class ComThreadEndTest : public ::testing::TestWithParam<EndCase> {};

TEST_P(ComThreadEndTest, ReleasesThePortBeforeTheJoinOnlyWhenTheBoundPassed) {
    const EndCase& c = GetParam();
    std::vector<std::string> steps;
    int waitedMs = -1;
    TComThreadEnd end;
    end.endsWithin = [&](int ms) {
        waitedMs = ms;
        steps.push_back("wait");
        return c.endsInTime;
    };
    if (c.canRelease)
        end.releasePort = [&] { steps.push_back("release"); };
    end.join = [&] { steps.push_back("join"); };

    EXPECT_EQ(end.Run(2500), c.released);
    EXPECT_EQ(waitedMs, 2500);
    EXPECT_EQ(steps, c.steps);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ComThreadEndTest,
    ::testing::Values(EndCase{"EndedInTime", true, true, {"wait", "join"}, false},
                      EndCase{"StuckOnARead", false, true, {"wait", "release", "join"}, true},
                      EndCase{"StuckWithNobodyToRelease", false, false, {"wait", "join"}, false}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
