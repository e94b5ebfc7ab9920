#include "console/console.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace tallowick::console {
namespace {

std::vector<std::string> redirected;
void capture(std::string_view line) {
    redirected.emplace_back(line);
}

// Where a service points its lines: standard error's to a destination of its
// own (made safe to show, as on a console), standard output's nowhere.
TEST(ConsoleLines, ErrorLinesRedirectedAndOutputLinesDiscarded) {
    redirect_error_lines(&capture);
    discard_output_lines(true);
    ::testing::internal::CaptureStderr();
    ::testing::internal::CaptureStdout();
    write_error_line("tallowick: a name with\x1b[2J an escape");
    write_line("Monitoring path: \\x", true);
    redirect_error_lines(nullptr);
    discard_output_lines(false);
    write_error_line("back on standard error");
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "back on standard error\n");
    EXPECT_EQ(redirected, std::vector<std::string>{"tallowick: a name with\\x1B[2J an escape"});
}

} // namespace
} // namespace tallowick::console
