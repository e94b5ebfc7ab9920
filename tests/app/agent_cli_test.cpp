#include "support/run_process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#ifndef _WIN32
#include <unistd.h>
#endif

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

TEST(AgentCommandLine, VersionPrintsOneLineAndStartsNothing) {
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"--version"}, std::vector<std::string>{"--path", "C:\\x", "--version"}}) {
        const process_result run = run_process(agent, arguments);
        EXPECT_EQ(run.exit_status, 0);
        EXPECT_EQ(run.out, std::string("Tallowick ") + TALLOWICK_VERSION + "\n");
        EXPECT_EQ(run.err, "");
    }
}

TEST(AgentCommandLine, MalformedCommandLineExitsWithStatusTwo) {
    struct malformed_case {
        std::vector<std::string> arguments;
        std::string named; // the option the error line names
    };
    // An empty value, often an unset shell variable, would match every path or
    // exclude every process.
    const malformed_case cases[] = {
        {{"--path"}, "path"},
        {{"--path", ""}, "--path"},
        {{"--path", "C:\\x", "--path="}, "--path"},
        {{"--excludeproc", ""}, "--excludeproc"},
        {{"--path", "C:\\x", "--excludeproc", "a.exe", "--excludeproc", ""}, "--excludeproc"},
    };
    for (const malformed_case& c : cases) {
        const process_result run = run_process(agent, c.arguments);
        EXPECT_EQ(run.exit_status, 2) << c.named;
        EXPECT_EQ(run.out, "") << c.named;
        EXPECT_NE(run.err.find("invalid command line"), std::string::npos) << run.err;
        EXPECT_NE(run.err.find(c.named), std::string::npos) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    }
}

#ifndef _WIN32
// A service is Windows' own: elsewhere each switch says so and starts nothing.
TEST(AgentCommandLine, ServiceSwitchesOffWindowsSaySoWithStatusOne) {
    for (const char* option : {"--install-service", "--uninstall-service", "--service"}) {
        const process_result run = run_process(agent, {option});
        EXPECT_EQ(run.exit_status, 1) << option;
        EXPECT_EQ(run.out, "") << option;
        EXPECT_EQ(run.err, std::string("tallowick: ") + option + ": a service runs on Windows only\n");
    }
}

// Off Windows the program runs on the simulated machine that
// TALLOWICK_SIM_SCENARIO describes; a scenario it cannot use stops it first.
TEST(AgentCommandLine, UnusableScenarioExitsWithStatusTwo) {
    const std::filesystem::path malformed = std::filesystem::temp_directory_path() /
                                            ("tallowick-malformed-" + std::to_string(::getpid()) + ".json");
    std::ofstream(malformed) << R"({"format": 1, "steps": [{"file_open": {"pid": 1}}]})";
    struct scenario_case {
        std::string path;
        std::string error;
    };
    const scenario_case cases[] = {
        {"/nonexistent/demo.json", "tallowick: scenario file /nonexistent/demo.json: cannot be read\n"},
        {malformed.string(),
         "tallowick: scenario file " + malformed.string() + ": /steps/0/file_open/name: required\n"},
    };
    for (const scenario_case& item : cases) {
        const process_result run =
            run_process(agent, {"--path", "C:\\x"}, {"TALLOWICK_SIM_SCENARIO=" + item.path});
        EXPECT_EQ(run.exit_status, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, item.error);
    }
    std::filesystem::remove(malformed);
}
#endif

} // namespace
} // namespace tallowick::testing
