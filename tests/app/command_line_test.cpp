#include "app/command_line.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace tallowick::app {
namespace {

command_line parse(std::vector<std::string> args) {
    args.insert(args.begin(), "tallowick");
    std::vector<const char*> argv;
    for (const std::string& arg : args)
        argv.push_back(arg.c_str());
    return parse_command_line(static_cast<int>(argv.size()), argv.data());
}

using strings = std::vector<std::string>;

TEST(CommandLine, HelpWinsOverEveryOtherOption) {
    const command_line parsed = parse({"--path", "C:\\x", "--help", "--excludeproc", "a.exe"});
    EXPECT_TRUE(parsed.help);
    EXPECT_TRUE(parsed.paths.empty());
    EXPECT_TRUE(parsed.excluded_processes.empty());
}

TEST(CommandLine, EachActionAndWhichWins) {
    struct action_case {
        strings args;
        program_action action;
    };
    const action_case cases[] = {
        {{}, program_action::run},
        {{"--path", "C:\\x"}, program_action::run},
        {{"--version"}, program_action::version},
        {{"--version", "--help"}, program_action::help}, // the banner as ever
        {{"--install-service", "--path", "C:\\x"}, program_action::install_service},
        {{"--install-service", "--version"}, program_action::version},
        {{"--install-service", "--uninstall-service"}, program_action::uninstall_service},
        {{"--uninstall-service"}, program_action::uninstall_service},
        // Only spelt out: a slip must not install a service.
        {{"--in"}, program_action::run},
        {{"--install"}, program_action::run},
        {{"--uninstall"}, program_action::run},
        {{"--vers"}, program_action::run},
        {{"--serv"}, program_action::run},
        // The manager's run, whatever a stored command line holds besides.
        {{"--service", "--install-service", "--path", "C:\\x"}, program_action::run_as_service},
    };
    for (const action_case& c : cases)
        EXPECT_EQ(parse(c.args).action, c.action) << ::testing::PrintToString(c.args);
    const command_line service = parse({"--service", "--path=\\x", "--excludeproc=a b.exe"});
    EXPECT_EQ(service.paths, (strings{"\\x"}));
    EXPECT_EQ(service.excluded_processes, (strings{"a b.exe"}));
    EXPECT_THROW(parse({"--install-service", "--path", ""}), std::exception);
}

TEST(CommandLine, NoArgumentsGiveEmptyLists) {
    const command_line parsed = parse({});
    EXPECT_FALSE(parsed.help);
    EXPECT_TRUE(parsed.paths.empty());
    EXPECT_TRUE(parsed.excluded_processes.empty());
}

TEST(CommandLine, PathsKeepOrderAndLoseTheirDrive) {
    EXPECT_EQ(parse({"--path", "C:\\data", "--path", "D:\\logs"}).paths, (strings{"\\data", "\\logs"}));
}

TEST(CommandLine, DriveStrippingTakesTheSecondColonPiece) {
    struct example {
        const char* given;
        const char* stored;
    };
    for (const example& e : {example{"\\share\\x", "\\share\\x"}, example{"C:", ""},
                             example{"C:\\a:b", "\\a"}, example{":lead", "lead"}, example{"", ""}}) {
        EXPECT_EQ(strip_drive_prefix(e.given), e.stored) << e.given;
    }
    EXPECT_EQ(parse({"--path", "C:"}).paths, (strings{""}));
}

TEST(CommandLine, EachOccurrenceTakesOneValue) {
    EXPECT_EQ(parse({"--path", "C:\\a", "C:\\b"}).paths, (strings{"\\a"}));
}

TEST(CommandLine, ExcludedProcessesStayAsTyped) {
    EXPECT_EQ(parse({"--excludeproc", "Foo.EXE", "--excludeproc", "C:bar"}).excluded_processes,
              (strings{"Foo.EXE", "C:bar"}));
}

TEST(CommandLine, SingleDashAndUnknownOptionsAreIgnoredAndListed) {
    struct ignored_case {
        strings args;
        strings paths;
        strings ignored;
    };
    const ignored_case cases[] = {
        {{"-path", "C:\\x", "--verbose", "--path", "C:\\y"}, {"\\y"}, {"-path", "C:\\x", "--verbose"}},
        {{"-path", "C:\\x"}, {}, {"-path", "C:\\x"}},
        {{"--paht", "C:\\Users\\bob"}, {}, {"--paht", "C:\\Users\\bob"}},
        {{"--paht=C:\\Users\\bob"}, {}, {"--paht=C:\\Users\\bob"}},
        {{"--path", "C:\\a", "C:\\b"}, {"\\a"}, {"C:\\b"}},
        {{"--path", "C:\\a"}, {"\\a"}, {}},
        {{"--install", "--path", "C:\\a"}, {"\\a"}, {"--install"}}, // a switch that acts, not spelt out
    };
    for (const ignored_case& test : cases) {
        const command_line parsed = parse(test.args);
        EXPECT_EQ(parsed.paths, test.paths) << ::testing::PrintToString(test.args);
        EXPECT_EQ(parsed.ignored, test.ignored) << ::testing::PrintToString(test.args);
    }
    EXPECT_EQ(ignored_argument_line("--paht"), "tallowick: unknown option \"--paht\" ignored");
    EXPECT_EQ(ignored_argument_line("C:\\b"), "tallowick: argument \"C:\\b\" ignored: no option takes it");
}

TEST(CommandLine, MissingOrEmptyValueIsRejected) {
    const strings malformed[] = {
        {"--path"},
        {"--excludeproc", "a", "--excludeproc"},
        {"--path", ""},
        {"--path="},
        {"--path", "C:\\x", "--path", ""},
        {"--excludeproc", ""},
        {"--excludeproc", "a.exe", "--excludeproc="},
    };
    for (const strings& args : malformed)
        EXPECT_THROW(parse(args), std::exception) << ::testing::PrintToString(args);
    EXPECT_TRUE(parse({"--help", "--path", ""}).help);
}

TEST(CommandLine, BannerIsTenLines) {
    const std::string banner = help_banner();
    EXPECT_EQ(std::count(banner.begin(), banner.end(), '\n'), 10);
    EXPECT_NE(banner.find("arguments \n    (e.g. --path, not -path)\n\n"), std::string::npos);
}

} // namespace
} // namespace tallowick::app
