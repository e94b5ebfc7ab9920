#include "support/run_process.h"

#include <gtest/gtest.h>

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

} // namespace
} // namespace tallowick::testing
