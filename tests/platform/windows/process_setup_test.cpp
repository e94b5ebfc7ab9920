#include "platform/process_setup.h"

#include "support/windows_support.h"

#include <gtest/gtest.h>

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

} // namespace
} // namespace tallowick::platform
