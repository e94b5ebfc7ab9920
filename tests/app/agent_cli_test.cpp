#include "support/run_process.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace tallowick::testing {
namespace {

const std::string agent = TALLOWICK_AGENT_PATH;

TEST(AgentCommandLine, HelpPrintsExactlyTheBanner) {
    const process_result run = run_process(agent, {"--help", "--path", "C:\\x"});
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(run.out, "\n=================\nVelmar Tallowick\n=================\n"
                       "   --path  <path to monitor for file changes>\n"
                       "   --excludeproc  <exclude process from monitoring file changes>\n\n"
                       "!!! IMPORTANT: please be sure to use double dashes (--) in front of arguments \n"
                       "    (e.g. --path, not -path)\n\n");
    EXPECT_EQ(run.err, "");
}

TEST(AgentCommandLine, MalformedCommandLineExitsWithStatusTwo) {
    const process_result run = run_process(agent, {"--path"});
    EXPECT_EQ(run.exit_status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("invalid command line"), std::string::npos);
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1);
}

} // namespace
} // namespace tallowick::testing
