#include "trace/kernel_logger_trace.h"

#include "decoding/errors.h"
#include "platform/windows_facts.h"
#include "session_fixture.h"
#include "trace/windows_version.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace etw::testing {
namespace {

using tallowick::testing::enable_trace_call;
using tallowick::testing::query_system_information_call;
using tallowick::testing::set_system_information_call;
using tallowick::testing::start_trace_call;
using tallowick::testing::ver_set_condition_mask_call;
using tallowick::testing::verify_version_info_call;

const std::u16string kernel_session = u"Velmar_Trace_WindowsKernel";
const GUID system_trace_control = tallowick::platform::system_trace_control_guid;
const GUID other_guid{0x0BADF00D, 0x1, 0x2, {3, 4, 5, 6, 7, 8, 9, 10}};

class KernelLoggerTrace : public session_fixture {
  protected:
    // The eight mask words of a group-mask block.
    static std::vector<std::uint32_t> masks_of(const std::vector<std::byte>& block) {
        std::vector<std::uint32_t> masks;
        for (std::size_t word = 0; word < 8; ++word)
            masks.push_back(read<std::uint32_t>(block, 16 + 4 * word));
        return masks;
    }

    kernel::process_provider processes;
};

TEST_F(KernelLoggerTrace, TheVersionTestAsksFor62WithServicePack0OrGreater) {
    for (const bool windows8 : {false, true}) {
        tracing.windows8_or_greater = windows8;
        EXPECT_EQ(is_windows8_or_greater(), windows8);
    }
    const auto masks = tracing.calls_of<ver_set_condition_mask_call>();
    ASSERT_EQ(masks.size(), 6u);
    const std::uint32_t types[] = {0x2, 0x1, 0x20};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(masks[i].type_mask, types[i]);
        EXPECT_EQ(masks[i].condition, 3);
    }
    EXPECT_EQ(masks[0].condition_mask, 0u);
    const auto verify = tracing.calls_of<verify_version_info_call>().front();
    OSVERSIONINFOEXW expected{};
    expected.dwOSVersionInfoSize = 284;
    expected.dwMajorVersion = 6;
    expected.dwMinorVersion = 2;
    EXPECT_EQ(std::memcmp(&verify.info, &expected, sizeof expected), 0);
    EXPECT_EQ(verify.type_mask, 0x23u);
    EXPECT_EQ(verify.condition_mask, 0x1801Bu); // greater-or-equal (3) at bits 0, 3 and 15
}

struct version_case {
    bool windows8;
    std::u16string given;
    std::u16string name;
    bool system_guid; // else a fresh one
    std::uint32_t mode;
};

class KernelNaming : public KernelLoggerTrace, public ::testing::WithParamInterface<version_case> {};

TEST_P(KernelNaming, NameGuidAndModeFollowTheWindowsVersion) {
    const version_case& c = GetParam();
    tracing.windows8_or_greater = c.windows8;
    const GUID fresh{0xF00D, 0, 0, {1}};
    tracing.created_guids = {fresh, fresh};
    kernel_logger_trace session(c.given);
    session.enable(processes);
    session.start();

    EXPECT_EQ(session.name(), c.name);
    const auto start = only<start_trace_call>();
    EXPECT_EQ(start.session_name, c.name);
    EXPECT_TRUE(same_guid(read<GUID>(start.properties, 24), c.system_guid ? system_trace_control : fresh));
    EXPECT_EQ(read<std::uint32_t>(start.properties, 64), c.mode);
    EXPECT_EQ(read<std::uint32_t>(start.properties, 72), 1u); // EnableFlags: the process provider's
    EXPECT_EQ(read<std::uint32_t>(start.properties, 116), 640u);
    EXPECT_EQ(read<char16_t>(start.properties, 120), c.name[0]);
}

INSTANTIATE_TEST_SUITE_P(Versions, KernelNaming,
                         ::testing::Values(version_case{false, u"Velmar_Trace_WindowsKernel",
                                                        u"NT Kernel Logger", true, 0x10000100},
                                           version_case{false, u"", u"NT Kernel Logger", true, 0x10000100},
                                           version_case{true, u"Velmar_Trace_WindowsKernel",
                                                        u"Velmar_Trace_WindowsKernel", false, 0x12000100},
                                           version_case{true, u"", u"{0000F00D-0000-0000-0100-000000000000}",
                                                        false, 0x12000100}));

TEST_F(KernelLoggerTrace, NamesWithoutRoomForTheirTerminatorAreRefusedBeforeTheVersionTest) {
    EXPECT_THROW(kernel_logger_trace(std::u16string(260, u'k')), std::length_error);
    EXPECT_TRUE(tracing.calls().empty());
}

TEST_F(KernelLoggerTrace, OneProcessProviderIsSwitchedOnByItsFlagAloneWithoutAskingForGroupMasks) {
    // A failing query would end process monitoring that never needed it.
    tracing.query_system_information_answers.then(0xC0000022);
    kernel_logger_trace session(kernel_session);
    session.enable(processes);
    session.start();
    EXPECT_EQ(session_calls(), (call_list{"StartTraceW", "OpenTraceW", "ProcessTrace"}));
}

TEST_F(KernelLoggerTrace, EnableFlagsOfAllProvidersAreOred) {
    kernel::kernel_provider other(0x8, other_guid);
    kernel_logger_trace session(kernel_session);
    session.enable(processes);
    session.enable(other);
    session.start();
    EXPECT_EQ(read<std::uint32_t>(only<start_trace_call>().properties, 72), 0x9u);
}

struct group_mask_case {
    std::uint32_t group_mask;
    std::size_t word;
    std::uint32_t bits;
};

class GroupMask : public KernelLoggerTrace, public ::testing::WithParamInterface<group_mask_case> {};

TEST_P(GroupMask, SetsItsBitsInItsWordOverTheMasksInForce) {
    tracing.group_masks_in_force[GetParam().word] = 0x100;
    processes.group_mask = GetParam().group_mask;
    kernel_logger_trace session(kernel_session);
    session.enable(processes);
    session.start();

    EXPECT_EQ(session_calls(), (call_list{"StartTraceW", "NtQuerySystemInformation", "NtSetSystemInformation",
                                          "OpenTraceW", "ProcessTrace"}));
    const auto query = only<query_system_information_call>();
    EXPECT_EQ(query.information_class, 31u);
    EXPECT_EQ(query.length, 48u);
    EXPECT_FALSE(query.return_length_given);
    EXPECT_EQ(read<std::uint32_t>(query.information, 0), 1u); // EventTraceGroupMaskInformation
    EXPECT_EQ(read<std::uint32_t>(query.information, 4), 0u);
    EXPECT_EQ(read<std::uint64_t>(query.information, 8), 0x1000u);
    EXPECT_EQ(masks_of(query.information), std::vector<std::uint32_t>(8, 0));
    const auto set = only<set_system_information_call>();
    EXPECT_EQ(set.information_class, 31u);
    EXPECT_EQ(set.length, 48u);
    EXPECT_EQ(read<std::uint64_t>(set.information, 8), 0x1000u);
    std::vector<std::uint32_t> expected(8, 0);
    expected[GetParam().word] = 0x100 | GetParam().bits;
    EXPECT_EQ(masks_of(set.information), expected);
}

INSTANTIATE_TEST_SUITE_P(Masks, GroupMask,
                         ::testing::Values(group_mask_case{0x20000004, 1, 0x4},
                                           group_mask_case{0xE0000001, 7, 0x1}));

TEST_F(KernelLoggerTrace, AfterAttachingNoGroupMaskIsAskedWithTheInvalidHandle) {
    tracing.start_trace_answers.then({183, 0});
    tracing.control_trace_answers.then(5);
    processes.group_mask = 0x20000004;
    kernel_logger_trace session(kernel_session);
    session.enable(processes);
    session.start();
    EXPECT_EQ(session_calls(), (call_list{"StartTraceW", "ControlTraceW", "OpenTraceW", "CloseTrace",
                                          "ControlTraceW", "OpenTraceW", "ProcessTrace"}));

    // A kernel logger of our name without the process flag would deliver nothing.
    tracing.queried_enable_flags = 0x10000;
    tracing.start_trace_answers.then({183, 0});
    tracing.control_trace_answers.then(5).then(0);
    kernel_logger_trace without_processes(u"Other");
    without_processes.enable(processes);
    try {
        without_processes.start();
        FAIL() << "no failure";
    } catch (const attached_session_failure& error) {
        EXPECT_EQ(std::string(error.what()),
                  "a running session of this name may not be stopped, and it has enable "
                  "flags 0x00010000 where 0x00000001 are needed");
    }
}

TEST_F(KernelLoggerTrace, AFailingGroupMaskQueryIsRaisedWithItsStatusInHexadecimal) {
    processes.group_mask = 0x20000004;
    kernel_logger_trace failing(kernel_session);
    failing.enable(processes);
    tracing.query_system_information_answers.then(0xC0000022);
    try {
        failing.start();
        FAIL() << "no failure";
    } catch (const unexpected_error& error) {
        EXPECT_EQ(std::string(error.what()), "An unexpected error occurred: status_code=0xC0000022");
    }
}

TEST_F(KernelLoggerTrace, RundownIsOneEnableOfTheKernelRundownProviderWithTheOredKeywords) {
    processes.rundown_requested = true;
    processes.rundown_keywords = 0x10;
    kernel::kernel_provider other(0x8, other_guid);
    other.rundown_keywords = 0x20;
    kernel_logger_trace session(kernel_session);
    session.enable(processes);
    session.enable(other);
    session.start();

    EXPECT_EQ(session_calls(), (call_list{"StartTraceW", "OpenTraceW", "EnableTraceEx2", "ProcessTrace"}));
    const auto rundown = only<enable_trace_call>();
    EXPECT_EQ(rundown.handle, 0x1000u);
    EXPECT_EQ(guid_text(rundown.provider), "3b9c9951-3480-4220-9377-9c8e5184f5cd");
    EXPECT_EQ(rundown.control_code, 1u);
    EXPECT_EQ(rundown.level, 0);
    EXPECT_EQ(rundown.match_any_keyword, 0x30u);
    EXPECT_EQ(rundown.match_all_keyword, 0u);
    EXPECT_EQ(rundown.timeout, 0u);
    EXPECT_FALSE(rundown.parameters);
}

} // namespace
} // namespace etw::testing
