#include "app/service_command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tallowick::app {
namespace {

// As the C runtime and CommandLineToArgvW read a Windows command line: a value
// stored in the service's command line must come back as it was given.
TEST(ServiceCommandLine, ArgumentsAreQuotedToReadBackExactly) {
    struct quoting_case {
        std::string argument;
        std::string quoted;
    };
    const quoting_case cases[] = {
        {"--path=\\data", "--path=\\data"},
        {"--path=\\Program Files\\x", "\"--path=\\Program Files\\x\""},
        {"--path=\\a b\\", "\"--path=\\a b\\\\\""},     // a closing backslash is doubled
        {"--path=\\a\\\\b c", "\"--path=\\a\\\\b c\""}, // inner ones stay
        {"--excludeproc=a\"b", "\"--excludeproc=a\\\"b\""},
        {"--excludeproc=a\\\"b", "\"--excludeproc=a\\\\\\\"b\""},
        {"--excludeproc=tab\there", "\"--excludeproc=tab\there\""},
        {"", "\"\""},
    };
    for (const quoting_case& c : cases)
        EXPECT_EQ(quote_argument(c.argument), c.quoted) << c.argument;
}

TEST(ServiceCommandLine, TheProgramQuotedThenTheServiceSwitchThenTheOptions) {
    EXPECT_EQ(service_command_line("C:\\Program Files\\Tallowick\\Tallowick.exe",
                                   {"--path=\\Users\\a b", "--excludeproc=backup.exe"}),
              "\"C:\\Program Files\\Tallowick\\Tallowick.exe\" --service \"--path=\\Users\\a b\" "
              "--excludeproc=backup.exe");
}

TEST(ServiceCommandLine, ProgramsInsideTheAdministratorsFoldersOnly) {
    const std::vector<std::string> folders = {"C:\\Program Files", "C:\\Windows\\"};
    struct location_case {
        const char* program;
        bool inside;
    };
    const location_case cases[] = {
        {"C:\\Program Files\\Tallowick\\Tallowick.exe", true},
        {"c:\\PROGRAM FILES\\Tallowick\\Tallowick.exe", true},
        {"C:\\Windows\\Tallowick.exe", true},
        {"C:\\Program Files (x86)\\Tallowick.exe", false}, // a prefix of the name is not the folder
        {"C:\\Program FilesX\\Tallowick.exe", false},
        {"C:\\Users\\alice\\Downloads\\Tallowick.exe", false},
        {"C:\\Program Files", false},
        {"D:\\Program Files\\Tallowick.exe", false},
    };
    for (const location_case& c : cases)
        EXPECT_EQ(lies_within_any(c.program, folders), c.inside) << c.program;
    EXPECT_FALSE(lies_within_any("C:\\x.exe", {""}));
}

} // namespace
} // namespace tallowick::app
