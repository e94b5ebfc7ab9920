#include "support/run_process.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace tallowick::testing {
namespace {

// On Windows the arguments reach the agent as UTF-16 and its console lines
// leave it as UTF-8: a value outside the ANSI code page must come back intact.
TEST(AgentCommandLine, NonAsciiValuesComeBackAsUtf8) {
    const std::string path = "\\Users\\Zo\xC3\xAB\\\xE6\x96\x87\xE4\xBB\xB6";
    const std::string process = "na\xC3\xAFve.exe";
    const process_result run = run_process(TALLOWICK_AGENT_PATH, {"--path", path, "--excludeproc", process});
    EXPECT_NE(run.out.find("Monitoring path: " + path + "\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Excluding Process: " + process + "\n"), std::string::npos) << run.out;
}

// Where event tracing cannot run (as under Wine, whose provider collection is
// missing), the agent ends by itself: one line naming what failed, status 1.
TEST(AgentCommandLine, EndsCleanlyWhereTracingCannotRun) {
    const process_result run = run_process(TALLOWICK_AGENT_PATH, {});
    if (run.exit_status == 0)
        GTEST_SKIP() << "event tracing works here";
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_EQ(run.err.rfind("tallowick: ", 0), 0u) << run.err;
}

} // namespace
} // namespace tallowick::testing
