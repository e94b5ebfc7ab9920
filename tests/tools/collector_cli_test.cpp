// The collector's own command line: numbers it cannot honour are refused before
// it binds its port.
#include "support/run_process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace tallowick::testing {
namespace {

const std::string collector = TALLOWICK_COLLECTOR_PATH;

TEST(CollectorCommandLine, NumbersOutOfRangeAreRefused) {
    struct limit_case {
        std::vector<std::string> arguments;
        std::string named;
    };
    const limit_case cases[] = {
        {{"--count", "-1"}, "--count"}, // would read as a count near 2^64
        {{"--count", "0"}, "--count"},  // would mean no limit at all
        {{"--count", "2.5"}, "--count"},       {{"--count", "ten"}, "--count"},
        {{"--timeout", "0"}, "--timeout"},     {{"--timeout", "-3"}, "--timeout"},
        {{"--timeout", "0.5"}, "--timeout"},   {{"--timeout", "nan"}, "--timeout"},
        {{"--timeout", "1e300"}, "--timeout"}, // beyond what the clock counts
        {{"--port", "-1"}, "--port"},          // would listen on 65535
        {{"--port", "65536"}, "--port"},       {{"--receive-buffer", "-5"}, "--receive-buffer"},
    };
    for (const limit_case& c : cases) {
        const process_result run = run_process(collector, c.arguments);
        EXPECT_EQ(run.exit_status, 2) << ::testing::PrintToString(c.arguments);
        EXPECT_EQ(run.out, "");
        EXPECT_NE(run.err.find(c.named + " needs a number from 1"), std::string::npos) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    }
}

} // namespace
} // namespace tallowick::testing
