#include "platform/windows/windows_system.h"

#include "platform/simulated/sid_text.h"
#include "platform/windows_facts.h"
#include "support/child_process.h"
#include "support/windows_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

namespace tallowick::platform::windows {
namespace {
using testing::child_process;

constexpr std::u16string_view device_prefix = u"\\Device\\HarddiskVolume";

std::u16string u16(const std::wstring& text) {
    return std::u16string(text.begin(), text.end());
}

class WindowsSystem : public ::testing::Test {
  protected:
    // Closes what a test opened on every way out of it.
    native_handle keep(open_result opened) {
        if (opened.handle != 0)
            opened_.push_back(opened.handle);
        return opened.handle;
    }
    void TearDown() override {
        for (native_handle handle : opened_)
            system_.close_handle(handle);
    }

    // The account name of a process's user, as the owner lookup asks for it.
    std::u16string owner_of(std::uint32_t pid) {
        const native_handle process = keep(system_.open_process(process_query_limited_information, pid));
        if (process == 0)
            return u"<no process>";
        const native_handle token = keep(system_.open_process_token(process, token_query));
        if (token == 0)
            return u"<no token>";
        std::uint32_t needed = 0;
        if (system_.get_token_user(token, {}, needed) != error_insufficient_buffer || needed == 0)
            return u"<no size>";
        std::vector<std::byte> buffer(needed); // operator new's alignment suits TOKEN_USER
        if (system_.get_token_user(token, buffer, needed) != 0)
            return u"<no token user>";
        const std::byte* sid = nullptr; // TOKEN_USER starts with its Sid pointer
        std::memcpy(&sid, buffer.data(), sizeof sid);
        const auto account = system_.lookup_account_sid(sid);
        return account ? account->name : u"<no account>";
    }

    std::u16string image_of(std::uint32_t pid) {
        const native_handle process = keep(system_.open_process(process_query_limited_information, pid));
        if (process == 0)
            return u"<no process>";
        return system_.process_image_file_name(process).value_or(u"<no image>");
    }

    windows_system system_;
    std::vector<native_handle> opened_;
};

TEST_F(WindowsSystem, OwnImageIsADevicePathWhoseDriveLetterNamesThatDevice) {
    const std::u16string image = image_of(testing::own_pid());
    ASSERT_EQ(image.rfind(device_prefix, 0), 0u) << system_.utf16_to_utf8(image);
    const std::size_t prefix_end = image.find(u'\\', device_prefix.size()) + 1;
    ASSERT_GT(prefix_end, device_prefix.size() + 1);

    // What the drive map is built from: the program's drive letter is among the
    // logical drives, and its device name is the image path's prefix.
    const std::u16string program = u16(testing::own_program_path());
    ASSERT_GE(program.size(), 3u);
    const char16_t letter = program[0] >= u'a' ? static_cast<char16_t>(program[0] - u'a' + u'A') : program[0];
    EXPECT_NE(system_.logical_drives() & (1u << (letter - u'A')), 0u);
    EXPECT_EQ(system_.query_dos_device(letter), image.substr(0, prefix_end - 1));
    EXPECT_EQ(program.substr(0, 3) + image.substr(prefix_end), program);
    EXPECT_FALSE(system_.query_dos_device(u'[')); // no such drive
}

TEST_F(WindowsSystem, DebugPrivilegeIsEnabledOrReportedAsNotHeld) {
    const std::uint32_t status = system_.enable_privilege(u"SeDebugPrivilege");
    EXPECT_TRUE(status == 0 || status == error_not_all_assigned) << status;
    EXPECT_NE(system_.enable_privilege(u"SeNoSuchPrivilege"), 0u);
}

TEST_F(WindowsSystem, ChildProcessImageAndOwner) {
    child_process child("tallowick_idle_child.exe", {});
    const std::u16string image = image_of(child.pid());
    EXPECT_EQ(image.rfind(device_prefix, 0), 0u) << system_.utf16_to_utf8(image);
    EXPECT_TRUE(image.ends_with(u"\\tallowick_idle_child.exe")) << system_.utf16_to_utf8(image);

    const std::u16string owner = owner_of(child.pid());
    EXPECT_FALSE(owner.empty());
    EXPECT_NE(owner.front(), u'<') << system_.utf16_to_utf8(owner);
    EXPECT_EQ(owner, owner_of(testing::own_pid()));
    EXPECT_EQ(child.finish(), 0u);
}

TEST_F(WindowsSystem, ProcessThatIsGoneCannotBeOpened) {
    // Windows frees an ended process with its last handle; Wine keeps it
    // openable, so there a process id that was never given out stands in.
    child_process child("tallowick_idle_child.exe", {});
    const std::uint32_t ended = child.pid();
    ASSERT_EQ(child.finish(), 0u);
    const std::uint32_t gone = testing::running_under_wine() ? 0xFFFFFFF0u : ended;

    for (const std::uint32_t access : {process_all_access, process_query_limited_information}) {
        const open_result opened = system_.open_process(access, gone);
        keep(opened);
        EXPECT_EQ(opened.handle, 0u);
        // Not "access denied": the image lookup reports this error and gives the empty path.
        EXPECT_EQ(opened.last_error, error_invalid_parameter);
    }
}

TEST_F(WindowsSystem, LocalSystemAccount) {
    const auto sid = system_.convert_string_to_sid("S-1-5-18");
    ASSERT_TRUE(sid.has_value());
    const auto account = system_.lookup_account_sid(sid->data());
    ASSERT_TRUE(account.has_value());
    EXPECT_EQ(account->name, u"SYSTEM");
    EXPECT_EQ(account->domain, u"NT AUTHORITY");
}

TEST_F(WindowsSystem, SidTextRoundTripsAndAgreesWithTheSimulatedMachine) {
    for (const std::string text :
         {"S-1-5-18", "S-1-1-0", "S-1-5-32-544", "S-1-5-21-1004336348-1177238915-682003330-512",
          "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"}) {
        SCOPED_TRACE(text);
        const auto sid = system_.convert_string_to_sid(text);
        ASSERT_TRUE(sid.has_value());
        EXPECT_EQ(*sid, simulated::sid_from_text(text));
        EXPECT_EQ(system_.convert_sid_to_string(sid->data()), text);
        EXPECT_EQ(simulated::sid_to_text(*sid), text);
    }
    for (const std::string text : {"S-1-5-x", "Q-1-5-18", "S-1-5-18-\xC3\xAB"}) {
        SCOPED_TRACE(text);
        EXPECT_FALSE(system_.convert_string_to_sid(text).has_value());
    }
}

TEST_F(WindowsSystem, VolumeRootOfAPath) {
    EXPECT_EQ(system_.volume_path_name(u"C:\\windows\\system32"), u"C:\\");
    const std::u16string program = u16(testing::own_program_path());
    EXPECT_EQ(system_.volume_path_name(program), program.substr(0, 3));
}

class FileStatus : public WindowsSystem {
  protected:
    void SetUp() override {
        folder_ = std::filesystem::temp_directory_path() /
                  ("tallowick-status-" + std::to_string(testing::own_pid()));
        std::filesystem::remove_all(folder_);
        std::filesystem::create_directories(folder_ / u"Zoë-目录");
        std::ofstream(folder_ / u"plain.txt") << "x";
        std::ofstream(folder_ / u"naïve-文件.txt") << "x";
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
        WindowsSystem::TearDown();
    }
    std::filesystem::path folder_;
};

TEST_F(FileStatus, DirectoryFileAndMissingPath) {
    const struct {
        std::filesystem::path path;
        file_kind kind;
    } cases[] = {
        {folder_, file_kind::directory},
        {folder_ / u"plain.txt", file_kind::regular},
        {folder_ / u"missing.txt", file_kind::none},
        {folder_ / u"Zoë-目录", file_kind::directory},
        {folder_ / u"naïve-文件.txt", file_kind::regular},
        {folder_ / u"naïve-文件.txt" / u"below-a-file", file_kind::none},
        {folder_ / u"ümlaut-missing", file_kind::none},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path.string());
        EXPECT_EQ(system_.file_status(c.path.u16string()), c.kind);
    }
}

TEST_F(FileStatus, LinkToADirectoryIsADirectory) {
    const std::filesystem::path link = folder_ / u"link-to-Zoë";
    if (!testing::make_directory_link((folder_ / u"Zoë-目录").wstring(), link.wstring()))
        GTEST_SKIP() << "symbolic links cannot be made here";
    EXPECT_EQ(system_.file_status(link.u16string()), file_kind::directory);
}

TEST_F(WindowsSystem, TextConversionsReplaceInvalidInput) {
    const struct {
        std::u16string utf16;
        std::string utf8;
    } both_ways[] = {
        {u"", ""},
        {u"C:\\plain", "C:\\plain"},
        {u"Zoë-目录", "Zo\xC3\xAB-\xE7\x9B\xAE\xE5\xBD\x95"},
        {u"\U0001F600", "\xF0\x9F\x98\x80"},
    };
    for (const auto& c : both_ways) {
        EXPECT_EQ(system_.utf16_to_utf8(c.utf16), c.utf8);
        EXPECT_EQ(system_.utf8_to_utf16(c.utf8), c.utf16);
    }
    const std::u16string lone_high{u'a', char16_t{0xD800}, u'b'};
    const std::u16string lone_low{char16_t{0xDC00}};
    EXPECT_EQ(system_.utf16_to_utf8(lone_high), "a\xEF\xBF\xBD"
                                                "b");
    EXPECT_EQ(system_.utf16_to_utf8(lone_low), "\xEF\xBF\xBD");
    EXPECT_EQ(system_.utf8_to_utf16("a\xFF"
                                    "b"),
              u"a\uFFFDb");
    EXPECT_EQ(system_.utf8_to_utf16("a\xC3"), u"a\uFFFD");
}

} // namespace
} // namespace tallowick::platform::windows
