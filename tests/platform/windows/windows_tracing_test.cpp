#include "platform/windows/windows_tracing.h"

#include "platform/guid.h"
#include "platform/windows/wide_text.h"
#include "platform/windows/windows_system.h"
#include "platform/windows_facts.h"
#include "support/windows_support.h"
#include "trace/provider_lookup.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstddef>
#include <cstring>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

// Tracing is a stub under Wine (sessions are pretended, consumers refused) and
// TDH is missing there: calling TdhGetEventInformation ends the process. So the
// tests below hold on Windows and under Wine alike, and TDH is only compiled.
namespace tallowick::platform::windows {
namespace {

// Runs `work` on a thread of its own, so that its COM apartment starts fresh.
void on_fresh_thread(const std::function<void()>& work) {
    std::thread thread(work);
    thread.join();
}

constexpr std::uint32_t status_procedure_not_found = 0xC000007A;

bool is_nt_error(std::uint32_t status) {
    return (status >> 30) == 3;
}

// The properties block of a real-time session: the structure, then room for
// the log file and session names.
struct session_properties {
    static constexpr std::size_t name_area = 1024;
    explicit session_properties(const GUID& guid) : block(sizeof(EVENT_TRACE_PROPERTIES) + 2 * name_area) {
        EVENT_TRACE_PROPERTIES properties{};
        properties.Wnode.BufferSize = static_cast<ULONG>(block.size());
        properties.Wnode.Flags = sdk::wnode_flag_traced_guid;
        properties.Wnode.ClientContext = 1;
        properties.Wnode.Guid = guid;
        properties.LogFileMode = sdk::event_trace_real_time_mode;
        properties.LoggerNameOffset = static_cast<ULONG>(sizeof(EVENT_TRACE_PROPERTIES) + name_area);
        std::memcpy(block.data(), &properties, sizeof properties);
    }
    EVENT_TRACE_PROPERTIES* get() { return reinterpret_cast<EVENT_TRACE_PROPERTIES*>(block.data()); }
    std::vector<std::byte> block;
};

// The portable shape of the consumer callbacks, as the session code writes them.
void ignore_record(EVENT_RECORD*) {}
sdk::ulong continue_processing(EVENT_TRACE_LOGFILEW*) {
    return 1;
}

class WindowsTracing : public ::testing::Test {
  protected:
    GUID fresh_guid() {
        GUID guid{};
        EXPECT_EQ(tracing_.co_create_guid(&guid), s_ok);
        return guid;
    }
    std::u16string text_of(const GUID& guid) {
        std::u16string text;
        EXPECT_EQ(tracing_.string_from_clsid(guid, text), s_ok);
        return text;
    }

    windows_tracing tracing_;
};

TEST_F(WindowsTracing, ClsidTextIsBracedUpperCaseWithTheFieldsInOrder) {
    EXPECT_EQ(text_of(platform::system_trace_control_guid), u"{9E814AAD-3204-11D2-9A82-006008A86939}");
    EXPECT_EQ(text_of(platform::process_guid), u"{3D6FA8D0-FE05-11D0-9DDA-00C04FD7BA7C}");
    EXPECT_EQ(text_of(GUID{}), u"{00000000-0000-0000-0000-000000000000}");
}

TEST_F(WindowsTracing, CreatedGuidsAreFreshAndTheirTextMatchesThem) {
    const GUID first = fresh_guid();
    const GUID second = fresh_guid();
    EXPECT_FALSE(is_null_guid(first));
    EXPECT_FALSE(same_guid(first, second));

    std::string upper = guid_text(first);
    for (char& digit : upper)
        digit = static_cast<char>(std::toupper(static_cast<unsigned char>(digit)));
    std::u16string expected = u"{";
    expected.append(upper.begin(), upper.end());
    expected += u'}';
    EXPECT_EQ(text_of(first), expected);
}

TEST_F(WindowsTracing, ConditionMaskHasThreeBitsPerTestedField) {
    std::uint64_t mask = 0;
    mask = tracing_.ver_set_condition_mask(mask, platform::ver_majorversion, platform::ver_greater_equal);
    EXPECT_EQ(mask, 0x18u);
    mask = tracing_.ver_set_condition_mask(mask, platform::ver_minorversion, platform::ver_greater_equal);
    mask = tracing_.ver_set_condition_mask(mask, platform::ver_servicepackmajor, platform::ver_greater_equal);
    EXPECT_EQ(mask, 0x1801Bu);
}

TEST_F(WindowsTracing, VersionTestHoldsUpToTheReportedVersionAndNoFurther) {
    const std::uint32_t type =
        platform::ver_majorversion | platform::ver_minorversion | platform::ver_servicepackmajor;
    std::uint64_t mask = 0;
    mask = tracing_.ver_set_condition_mask(mask, platform::ver_majorversion, platform::ver_greater_equal);
    mask = tracing_.ver_set_condition_mask(mask, platform::ver_minorversion, platform::ver_greater_equal);
    mask = tracing_.ver_set_condition_mask(mask, platform::ver_servicepackmajor, platform::ver_greater_equal);
    const auto at_least = [&](std::uint32_t major, std::uint32_t minor) {
        OSVERSIONINFOEXW info{};
        info.dwOSVersionInfoSize = sizeof info;
        info.dwMajorVersion = major;
        info.dwMinorVersion = minor;
        return tracing_.verify_version_info(&info, type, mask) != 0;
    };

    EXPECT_TRUE(at_least(6, 0));
    EXPECT_FALSE(at_least(99, 0));
    // Windows 8 (6.2) is this program's floor; Wine reports what its prefix
    // is set to (Windows 7 in the prefix the Windows tests make).
    if (!testing::running_under_wine()) {
        EXPECT_TRUE(at_least(6, 2));
    }
    // Once a version fails, every later one fails too.
    const std::pair<std::uint32_t, std::uint32_t> ladder[] = {
        {5, 0}, {5, 1}, {5, 2}, {6, 0}, {6, 1}, {6, 2}, {6, 3}, {10, 0}, {10, 1}, {11, 0}, {99, 0}};
    bool previous = true;
    for (const auto& [major, minor] : ladder) {
        const bool holds = at_least(major, minor);
        EXPECT_FALSE(holds && !previous) << "holds at " << major << "." << minor << " after failing below";
        previous = holds;
    }
}

TEST_F(WindowsTracing, SecondInitialisationOfAThreadAnswersFalseAndAnotherModeIsRefused) {
    on_fresh_thread([this] {
        EXPECT_EQ(tracing_.co_initialize_ex(nullptr, coinit_multithreaded), s_ok);
        EXPECT_EQ(tracing_.co_initialize_ex(nullptr, coinit_multithreaded), s_false);
        EXPECT_LT(tracing_.co_initialize_ex(nullptr, coinit_apartmentthreaded), 0); // RPC_E_CHANGED_MODE
        tracing_.co_uninitialize();
        tracing_.co_uninitialize();
    });
}

TEST_F(WindowsTracing, ProviderCollectionListsTheRegisteredProviders) {
    on_fresh_thread([this] {
        ASSERT_GE(tracing_.co_initialize_ex(nullptr, coinit_multithreaded), 0);
        void* collection = nullptr;
        const hresult created =
            tracing_.co_create_instance(clsid_trace_data_provider_collection, nullptr, clsctx_server,
                                        iid_trace_data_provider_collection, &collection);
        if (created < 0) {
            EXPECT_EQ(collection, nullptr);
            tracing_.co_uninitialize();
            GTEST_SKIP() << "the trace data provider collection cannot be created here (hr 0x" << std::hex
                         << static_cast<std::uint32_t>(created) << "); Wine has none";
        }
        ASSERT_NE(collection, nullptr);
        EXPECT_GE(tracing_.get_trace_data_providers(collection, nullptr), 0);
        std::int32_t count = 0;
        EXPECT_GE(tracing_.get_count(collection, &count), 0);
        EXPECT_GT(count, 0);

        bool found = false;
        for (std::uint32_t index = 0; index < static_cast<std::uint32_t>(count) && !found; ++index) {
            void* provider = nullptr;
            ASSERT_GE(tracing_.get_item(collection, index, &provider), 0) << "item " << index;
            std::optional<std::u16string> name;
            EXPECT_GE(tracing_.get_display_name(provider, name), 0);
            if (name == u"Microsoft-Windows-Kernel-File") {
                GUID guid{};
                EXPECT_GE(tracing_.get_guid(provider, &guid), 0);
                EXPECT_TRUE(same_guid(guid, kernel_file_provider)) << guid_text(guid);
                found = true;
            }
            tracing_.release(provider);
        }
        EXPECT_TRUE(found);
        tracing_.release(collection);
        tracing_.co_uninitialize();
    });
}

TEST_F(WindowsTracing, ProviderLookupFindsTheKernelFileProviderOrReportsTheFailure) {
    windows_system system;
    const scoped_system system_installed(system);
    const scoped_tracing tracing_installed(tracing_);
    on_fresh_thread([] {
        try {
            const GUID guid = etw::find_provider_guid(u"Microsoft-Windows-Kernel-File");
            EXPECT_TRUE(same_guid(guid, kernel_file_provider)) << guid_text(guid);
        } catch (const std::runtime_error& error) {
            EXPECT_TRUE(testing::running_under_wine()) << error.what();
            EXPECT_EQ(
                std::string(error.what()).rfind("Error in creating instance of trace providers, hr = 0x", 0),
                0u)
                << error.what();
        }
    });
}

TEST_F(WindowsTracing, SessionStartsAndStopsByNameWhereTracingIsAllowed) {
    const GUID guid = fresh_guid();
    const std::u16string name = u"Tallowick_Test_" + text_of(guid);
    session_properties started(guid);
    trace_handle handle = 0;
    const std::uint32_t status = tracing_.start_trace(&handle, name.c_str(), started.get());
    if (status == platform::error_access_denied)
        GTEST_SKIP() << "starting a trace session needs administrative rights";
    ASSERT_EQ(status, platform::error_success);
    EXPECT_NE(handle, 0u);

    ENABLE_TRACE_PARAMETERS parameters{};
    parameters.Version = sdk::enable_trace_parameters_version_2;
    const GUID provider = fresh_guid();
    EXPECT_EQ(tracing_.enable_trace_ex2(handle, &provider, sdk::event_control_code_enable_provider,
                                        sdk::trace_level_information, 0, 0, 0, &parameters),
              platform::error_success);

    session_properties stopped(guid);
    EXPECT_EQ(tracing_.control_trace(0, name.c_str(), stopped.get(), sdk::event_trace_control_stop),
              platform::error_success);
}

TEST_F(WindowsTracing, ConsumerOfAMissingSessionDeliversNothing) {
    std::wstring name = to_wide(u"Tallowick_Missing_" + text_of(fresh_guid()));
    EVENT_TRACE_LOGFILEW logfile{};
    logfile.LoggerName = name.data();
    logfile.ProcessTraceMode = sdk::process_trace_mode_real_time | sdk::process_trace_mode_event_record;
    logfile.EventRecordCallback = ignore_record;
    logfile.BufferCallback = continue_processing;

    trace_handle handle = tracing_.open_trace(&logfile);
    if (handle == sdk::invalid_processtrace_handle) {
        // Wine refuses every consumer; ProcessTrace of no consumer fails at once.
        EXPECT_NE(tracing_.process_trace(&handle, 1, nullptr, nullptr), platform::error_success);
        return;
    }
    // Windows opens a real-time consumer before its session exists; processing
    // then ends at once because no such session runs.
    EXPECT_NE(tracing_.process_trace(&handle, 1, nullptr, nullptr), platform::error_success);
    EXPECT_EQ(tracing_.close_trace(handle), platform::error_success);
}

TEST_F(WindowsTracing, KernelGroupMaskCallsReachNtdll) {
    std::byte group_masks[48] = {};
    std::uint32_t returned = 0;
    const std::uint32_t queried = tracing_.nt_query_system_information(
        sdk::system_performance_trace_information, group_masks, sizeof group_masks, &returned);
    // Windows answers 0 (or refuses without rights); Wine has no class 31.
    EXPECT_TRUE(queried == 0 || is_nt_error(queried)) << std::hex << queried;
    EXPECT_NE(queried, status_procedure_not_found);
    // An empty block changes nothing, whatever the answer.
    EXPECT_NE(tracing_.nt_set_system_information(sdk::system_performance_trace_information, group_masks, 0),
              status_procedure_not_found);
}

TEST_F(WindowsTracing, ProviderEnablesAreAskedForBySizeFirst) {
    // The Kernel-File provider: Windows always has it registered, so the size
    // of at least a TRACE_GUID_INFO is asked for; Wine may not know it.
    if (testing::running_under_wine())
        GTEST_SKIP() << "Wine 8's EnumerateTraceGuidsEx is a stub that raises an exception";
    std::uint32_t needed = 0;
    const std::uint32_t status = tracing_.enumerate_trace_guids_ex(
        sdk::trace_guid_query_info, &kernel_file_provider, sizeof kernel_file_provider, nullptr, 0, &needed);
    EXPECT_NE(status, 127u); // ERROR_PROC_NOT_FOUND: neither advapi32 nor sechost has it
    if (status == platform::error_insufficient_buffer) {
        EXPECT_GE(needed, sdk::trace_guid_info_size);
    }
}

} // namespace
} // namespace tallowick::platform::windows
