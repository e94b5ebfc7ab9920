#include "platform/simulated/simulated_system.h"
#include "platform/windows_facts.h"

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>

namespace tallowick::platform::simulated {
namespace {

machine_inventory test_machine() {
    machine_inventory model;
    model.agent_user_sid = "S-1-5-21-1-2-3-1001";
    model.processes = {
        {110, "\\Device\\HarddiskVolume3\\Windows\\svchost.exe", "S-1-5-18", process_access::full},
        {100, "\\Device\\HarddiskVolume3\\Windows\\notepad.exe", "S-1-5-21-1-2-3-1001", process_access::full},
        {200, "\\Device\\HarddiskVolume3\\Windows\\lsass.exe", "S-1-5-18", process_access::limited},
        {300, "\\Device\\HarddiskVolume3\\Windows\\System32\\smss.exe", "S-1-5-18", process_access::denied},
        {400, "\\Device\\HarddiskVolume3\\old.exe", "S-1-5-18", process_access::gone},
        {500, "\\Device\\HarddiskVolume3\\nobody.exe", "", process_access::full},
    };
    model.accounts.push_back({"S-1-5-21-1-2-3-1001", "J\xc3\xbcrgen", "DESKTOP-1"});
    model.accounts.push_back({"S-1-5-21-1-2-3-1002", std::string(256, 'x'), "DESKTOP-1"});
    model.files = {
        {"C:\\Users", file_type::dir}, {"C:\\Users\\a.txt", file_type::file}, {"C:\\pipe", file_type::other}};
    return model;
}

TEST(SimulatedSystem, OpensProcessesAsWindowsGrantsTheRights) {
    struct open_case {
        std::uint32_t pid;
        std::uint32_t access;
        bool debug_enabled;
        std::uint32_t expected_error; // 0: opens
    };
    constexpr std::uint32_t limited = process_query_limited_information;
    const open_case cases[] = {
        {100, process_all_access, false, 0}, // the agent's own account
        {100, process_query_information, false, 0},
        {110, process_all_access, false, error_access_denied}, // another account's service
        {110, process_query_information, false, error_access_denied},
        {110, limited, false, 0},
        {110, process_all_access, true, 0},
        {200, process_all_access, true, error_access_denied}, // protected: the privilege does not help
        {200, process_query_information, true, error_access_denied},
        {200, limited, false, 0},
        {300, limited, true, error_access_denied},
        {400, limited, false, error_invalid_parameter},
        {400, process_all_access, true, error_invalid_parameter},
        {999, limited, false, error_invalid_parameter},
    };
    for (const open_case& test : cases) {
        simulated_system system(test_machine());
        if (test.debug_enabled) {
            ASSERT_EQ(system.enable_privilege(u"SeDebugPrivilege"), 0u);
        }
        const open_result opened = system.open_process(test.access, test.pid);
        EXPECT_EQ(opened.last_error, test.expected_error) << test.pid << " " << test.access;
        EXPECT_EQ(opened.handle != 0, test.expected_error == 0) << test.pid << " " << test.access;
        if (opened.handle != 0)
            system.close_handle(opened.handle);
        EXPECT_EQ(system.open_handle_count(), 0u);
    }
    // A token without the privilege cannot enable it.
    machine_inventory unprivileged = test_machine();
    unprivileged.debug_privilege = false;
    simulated_system system(unprivileged);
    EXPECT_EQ(system.enable_privilege(u"SeDebugPrivilege"), error_not_all_assigned);
    EXPECT_EQ(system.open_process(process_all_access, 110).last_error, error_access_denied);
}

TEST(SimulatedSystem, AnOpenProcessHandleOutlivesTheProcess) {
    simulated_system system(test_machine());
    const open_result opened = system.open_process(process_all_access, 100);
    system.remove_process(100);
    EXPECT_EQ(system.process_image_file_name(opened.handle),
              u"\\Device\\HarddiskVolume3\\Windows\\notepad.exe");
    EXPECT_EQ(system.open_process(process_all_access, 100).last_error, error_invalid_parameter);
    system.close_handle(opened.handle);
    EXPECT_FALSE(system.process_image_file_name(opened.handle));

    system.add_process({100, "\\Device\\HarddiskVolume3\\new.exe", "", process_access::full});
    const open_result reopened = system.open_process(process_query_limited_information, 100);
    EXPECT_EQ(system.process_image_file_name(reopened.handle), u"\\Device\\HarddiskVolume3\\new.exe");
    system.close_handle(reopened.handle);
}

TEST(SimulatedSystem, TokenUserFollowsTheTwoCallProtocol) {
    simulated_system system(test_machine());
    const open_result process = system.open_process(process_query_information, 100);
    const open_result token = system.open_process_token(process.handle, token_query);
    ASSERT_NE(token.handle, 0u);

    std::uint32_t needed = 0;
    EXPECT_EQ(system.get_token_user(token.handle, {}, needed), error_insufficient_buffer);
    ASSERT_EQ(needed, sizeof(token_user_header) + 8 + 4 * 5);
    std::vector<std::byte> buffer(needed);
    ASSERT_EQ(system.get_token_user(token.handle, buffer, needed), 0u);
    token_user_header header{};
    std::memcpy(&header, buffer.data(), sizeof header);
    EXPECT_EQ(header.sid, buffer.data() + sizeof header);
    const auto* sid = static_cast<const std::byte*>(header.sid);
    EXPECT_EQ(system.convert_sid_to_string(sid), "S-1-5-21-1-2-3-1001");
    const auto account = system.lookup_account_sid(sid);
    ASSERT_TRUE(account);
    EXPECT_EQ(account->name, u"J\u00fcrgen");
    EXPECT_EQ(account->domain, u"DESKTOP-1");

    EXPECT_EQ(system.get_token_user(process.handle, buffer, needed), error_invalid_handle);
    EXPECT_EQ(system.open_process_token(token.handle, token_query).last_error, error_invalid_handle);
    // A process without a user SID gives no token.
    const open_result anonymous = system.open_process(process_query_limited_information, 500);
    EXPECT_EQ(system.open_process_token(anonymous.handle, token_query).handle, 0u);
    for (const native_handle handle : {token.handle, process.handle, anonymous.handle})
        system.close_handle(handle);
    EXPECT_EQ(system.open_handle_count(), 0u);
}

TEST(SimulatedSystem, LooksUpTheDefaultAndGivenAccounts) {
    simulated_system system(test_machine());
    const auto name_of = [&system](const char* text) -> std::optional<std::u16string> {
        const auto sid = system.convert_string_to_sid(text);
        if (!sid)
            return std::nullopt;
        const auto account = system.lookup_account_sid(sid->data());
        return account ? std::optional(account->name) : std::nullopt;
    };
    EXPECT_EQ(name_of("S-1-5-18"), u"SYSTEM");
    EXPECT_EQ(name_of("S-1-5-19"), u"LOCAL SERVICE");
    EXPECT_EQ(name_of("S-1-5-20"), u"NETWORK SERVICE");
    EXPECT_EQ(name_of("S-1-5-32-544"), std::nullopt);
    EXPECT_EQ(name_of("S-1-5-21-1-2-3-1002"), std::nullopt); // longer than the 256-unit buffer
    EXPECT_FALSE(system.convert_string_to_sid("S-1-5-x"));
}

TEST(SimulatedSystem, AnswersVolumeAndFileQueries) {
    machine_inventory model = test_machine();
    model.volumes.push_back({"\\Device\\HarddiskVolume12\\", "D:\\"});
    model.volumes.push_back({"\\Device\\HarddiskVolume5\\", "C:\\Mounted\\"});
    simulated_system system(model);
    // An NT path gets the boot volume's drive, whatever volume it names.
    EXPECT_EQ(system.volume_path_name(u"\\Device\\HarddiskVolume3\\Users\\a.txt"), u"C:\\");
    EXPECT_EQ(system.volume_path_name(u"\\device\\harddiskvolume12\\x"), u"C:\\");
    EXPECT_EQ(system.volume_path_name(u"\\Device\\HarddiskVolume31\\x"), u"C:\\");
    EXPECT_EQ(system.volume_path_name(u"D:\\x"), u"D:\\");
    EXPECT_EQ(system.volume_path_name(u"C:\\Users\\a.txt"), u"C:\\");
    EXPECT_FALSE(system.volume_path_name(u"Q:\\x"));
    EXPECT_EQ(system.volume_query_count(), 6u);
    // The drive letters and the device name behind each; a folder mount has no letter.
    EXPECT_EQ(system.logical_drives(), 0xCu);
    EXPECT_EQ(system.query_dos_device(u'D'), u"\\Device\\HarddiskVolume12");
    EXPECT_FALSE(system.query_dos_device(u'E'));
    system.add_volume({"\\Device\\HarddiskVolume9\\", "E:\\"});
    EXPECT_EQ(system.logical_drives(), 0x1Cu);
    EXPECT_EQ(system.query_dos_device(u'E'), u"\\Device\\HarddiskVolume9");

    EXPECT_EQ(system.file_status(u"C:\\Users"), file_kind::directory);
    EXPECT_EQ(system.file_status(u"c:\\users\\"), file_kind::directory);
    EXPECT_EQ(system.file_status(u"C:\\Users\\A.TXT"), file_kind::regular);
    EXPECT_EQ(system.file_status(u"C:\\pipe"), file_kind::other);
    EXPECT_EQ(system.file_status(u"C:\\missing"), file_kind::none);
}

TEST(SimulatedSystem, ConvertsTextAsWindowsDoes) {
    simulated_system system;
    EXPECT_EQ(system.utf16_to_utf8(std::u16string{u'a', 0xD800, u'\u00e9'}), "a\xef\xbf\xbd\xc3\xa9");
    EXPECT_EQ(system.utf8_to_utf16("\xc3\x62\xc3\xa9"), u"\ufffdb\u00e9");
}

TEST(SimulatedSystem, RejectsAMachineWithAMalformedSid) {
    machine_inventory model;
    model.accounts.push_back({"S-1-x", "bad", ""});
    EXPECT_THROW(simulated_system{model}, std::invalid_argument);
    machine_inventory with_process;
    with_process.processes.push_back({7, "\\x.exe", "not a sid", process_access::full});
    EXPECT_THROW(simulated_system{with_process}, std::invalid_argument);
}

} // namespace
} // namespace tallowick::platform::simulated
