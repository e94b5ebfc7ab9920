#include "platform/console.h"
#include "platform/process_setup.h"

#include "support/windows_support.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>

namespace tallowick::platform {
namespace {

TEST(ProcessSetup, StartsWinsockOnceAndGivesTheProgramFirst) {
    const char* const narrow_argv[] = {"ignored", nullptr};
    const std::vector<std::string> args = process_setup(1, narrow_argv);
    ASSERT_FALSE(args.empty());
    EXPECT_TRUE(args.front().ends_with("platform_windows_tests.exe")) << args.front();
    EXPECT_TRUE(testing::udp_socket_opens());
    EXPECT_EQ(process_setup(1, narrow_argv), args);
}

// The console's code page stays as the user set it; lines for a pipe or a
// file (as here, under the test runner) go to the stream as UTF-8 bytes.
TEST(ProcessSetup, LeavesTheConsoleCodePageAsFoundAndRedirectedLinesToTheStream) {
    const UINT code_page = GetConsoleOutputCP();
    const char* const narrow_argv[] = {"ignored", nullptr};
    process_setup(1, narrow_argv);
    EXPECT_EQ(GetConsoleOutputCP(), code_page);
    DWORD mode = 0;
    if (GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) == 0) {
        EXPECT_FALSE(write_to_console(stdout, "redirected\n"));
    }
}

} // namespace
} // namespace tallowick::platform
