#include "monitor/lookups.h"
#include "platform/simulated/simulated_system.h"

#include <gtest/gtest.h>

namespace tallowick::monitor {
namespace {

using namespace platform::simulated;

machine_inventory lookup_machine() {
    machine_inventory model;
    model.processes = {
        {100, "\\Device\\HarddiskVolume3\\Program Files\\Office\\WINWORD.EXE", "S-1-5-21-1-2-3-1001",
         process_access::full},
        {200, "\\Device\\HarddiskVolume3\\Windows\\System32\\lsass.exe", "S-1-5-18", process_access::limited},
        {300, "\\Device\\HarddiskVolume3\\Windows\\System32\\smss.exe", "S-1-5-18", process_access::denied},
        {400, "\\Device\\HarddiskVolume3\\ended.exe", "S-1-5-18", process_access::gone},
        {500, "\\Device\\HarddiskVolume9\\Tools\\t\xc3\xb6\xc3\xb6l.exe", "", process_access::full},
        {600, "\\Device\\HarddiskVolume3\\" + std::string(300, 'x') + ".exe", "S-1-5-21-9",
         process_access::full},
    };
    model.accounts.push_back({"S-1-5-21-1-2-3-1001", "J\xc3\xbcrgen", "DESKTOP-1"});
    model.files = {
        {"C:\\Users", file_type::dir}, {"C:\\Users\\a.txt", file_type::file}, {"C:\\pipe", file_type::other}};
    return model;
}

class Lookups : public ::testing::Test {
  protected:
    simulated_system system{lookup_machine()};
    platform::scoped_system installed{system};
};

TEST_F(Lookups, ImagePathFallsBackByTheReasonTheProcessCannotBeRead) {
    struct image_case {
        std::uint32_t pid;
        std::string image;
        std::string console;
    };
    const image_case cases[] = {
        {100, "C:\\Program Files\\Office\\WINWORD.EXE", ""},
        {200, "C:\\Windows\\System32\\lsass.exe", ""}, // protected: the limited query right is enough
        {300, "ACCESS_DENIED", ""},
        {400, "", "PROC ID FALLBACK ERROR: 87\n"},
        {4294967295u, "", "PROC ID FALLBACK ERROR: 87\n"},
        {500, "\\Device\\HarddiskVolume9\\Tools\\t\xc3\xb6\xc3\xb6l.exe",
         ""},                                               // no such volume: device form kept
        {600, "C:\\" + std::string(300, 'x') + ".exe", ""}, // longer than MAX_PATH, read whole
    };
    for (const image_case& test : cases) {
        ::testing::internal::CaptureStdout();
        EXPECT_EQ(get_process_image_path(test.pid), test.image) << test.pid;
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), test.console) << test.pid;
        EXPECT_EQ(system.open_handle_count(), 0u) << test.pid;
    }
}

TEST_F(Lookups, OwnerIsTheAccountNameOrUnknown) {
    struct owner_case {
        std::uint32_t pid;
        std::string owner;
    };
    const owner_case cases[] = {
        {100, "J\xc3\xbcrgen"},                                     // converted from UTF-16, no domain
        {200, "SYSTEM"},                                            // query access is enough
        {300, "UNKNOWN"},       {400, "UNKNOWN"}, {500, "UNKNOWN"}, // no token
        {600, "UNKNOWN"},                                           // SID without an account
        {12345, "UNKNOWN"},
    };
    ::testing::internal::CaptureStdout();
    for (const owner_case& test : cases) {
        EXPECT_EQ(get_process_owner(test.pid), test.owner) << test.pid;
        EXPECT_EQ(system.open_handle_count(), 0u) << test.pid;
    }
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(get_token_user_name(0x7777), "UNKNOWN");
}

// Other accounts' processes grant only the limited query right until
// SeDebugPrivilege is enabled; the lookups need no more.
TEST(LookupRights, TheLookupsNeedNoPrivilegeAndTakeItWhereTheTokenHoldsIt) {
    for (const bool held : {true, false}) {
        SCOPED_TRACE(held);
        machine_inventory model = lookup_machine();
        model.debug_privilege = held;
        simulated_system system(model);
        const platform::scoped_system installed(system);
        EXPECT_EQ(get_process_image_path(100), "C:\\Program Files\\Office\\WINWORD.EXE");
        EXPECT_EQ(get_process_owner(100), "J\xc3\xbcrgen");
        enable_process_lookup_rights();
        EXPECT_EQ(system.debug_privilege_enabled(), held);
        EXPECT_EQ(get_process_image_path(100), "C:\\Program Files\\Office\\WINWORD.EXE");
    }
}

TEST_F(Lookups, PathTypeNamesDirectoriesAndRegularFilesOnly) {
    EXPECT_EQ(get_path_type("C:\\Users"), "DIR");
    EXPECT_EQ(get_path_type("C:\\Users\\a.txt"), "FILE");
    EXPECT_EQ(get_path_type("C:\\pipe"), "N/A");
    EXPECT_EQ(get_path_type("C:\\missing"), "N/A");
    EXPECT_EQ(get_path_type(""), "N/A");
    EXPECT_EQ(get_path_type("C:\\Users\\a.txt\xff"), "N/A");
}

} // namespace
} // namespace tallowick::monitor
