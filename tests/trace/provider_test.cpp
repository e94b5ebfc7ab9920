#include "trace/kernel_provider.h"
#include "trace/provider.h"

#include "decoding/errors.h"
#include "platform/guid.h"
#include "platform/windows_facts.h"
#include "support/fake_tracing.h"
#include "support/sid_and_text_system.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace etw {
namespace {

using tallowick::platform::guid_text;
using tallowick::platform::same_guid;
using tallowick::testing::fake_registered_provider;
using tallowick::testing::fake_tracing;

const GUID file_guid = tallowick::platform::kernel_file_provider;
const GUID process_guid = tallowick::platform::kernel_process_provider;
const GUID other_guid{0x11111111, 0x2222, 0x3333, {4, 4, 5, 5, 5, 5, 5, 5}};

class ProviderLookup : public ::testing::Test {
  protected:
    ProviderLookup() {
        tracing.providers = {{u"Microsoft-Windows-Kernel-File", file_guid},
                             {u"Microsoft-Windows-Kernel-Process", process_guid}};
    }

    std::string failure_of(std::u16string_view name) {
        try {
            provider<std::uint64_t> found(name);
        } catch (const std::runtime_error& error) {
            return error.what();
        }
        return "no failure";
    }

    fake_tracing tracing;
    tallowick::testing::sid_and_text_system system;
    tallowick::platform::scoped_tracing tracing_scope{tracing};
    tallowick::platform::scoped_system system_scope{system};
};

TEST_F(ProviderLookup, FindsTheGuidByDisplayNameWithTheDefaultSettings) {
    const provider<std::uint64_t> found(u"Microsoft-Windows-Kernel-Process");
    EXPECT_TRUE(same_guid(found.guid, process_guid));
    EXPECT_EQ(found.level, 5);
    EXPECT_EQ(found.any_keywords, 0u);
    EXPECT_EQ(found.all_keywords, 0u);
    EXPECT_EQ(found.enable_property, 0u);
    EXPECT_FALSE(found.rundown_requested);
    EXPECT_TRUE(found.filters().empty());

    EXPECT_EQ(tracing.call_names(),
              (std::vector<std::string_view>{"CoInitializeEx", "CoCreateInstance", "GetTraceDataProviders",
                                             "get_Count", "get_Item", "get_DisplayName", "Release",
                                             "get_Item", "get_DisplayName", "get_Guid", "Release", "Release",
                                             "CoUninitialize"}));
    const auto init = tracing.calls_of<tallowick::testing::co_initialize_call>().front();
    EXPECT_EQ(init.reserved, nullptr);
    EXPECT_EQ(init.co_init, 0u);
    const auto create = tracing.calls_of<tallowick::testing::co_create_instance_call>().front();
    EXPECT_EQ(guid_text(create.clsid), "03837511-098b-11d8-9414-505054503030");
    EXPECT_EQ(guid_text(create.iid), "03837510-098b-11d8-9414-505054503030");
    EXPECT_EQ(create.class_context, 0x15u);
    EXPECT_EQ(create.outer, nullptr);
    EXPECT_FALSE(tracing.calls_of<tallowick::testing::get_trace_data_providers_call>().front().server);
    const auto items = tracing.calls_of<tallowick::testing::get_item_call>();
    EXPECT_EQ(items[0].index, 0u);
    EXPECT_EQ(items[1].index, 1u);
    EXPECT_EQ(tracing.outstanding_com_objects(), 0);
}

TEST_F(ProviderLookup, TakesTheFirstOfTwoProvidersWithTheSameName) {
    tracing.providers.insert(tracing.providers.begin(), {u"Microsoft-Windows-Kernel-Process", other_guid});
    EXPECT_TRUE(same_guid(provider<std::uint64_t>(u"Microsoft-Windows-Kernel-Process").guid, other_guid));
}

TEST_F(ProviderLookup, AMissingDisplayNameCountsAsEmpty) {
    tracing.providers.insert(tracing.providers.begin(), {std::nullopt, other_guid});
    EXPECT_TRUE(same_guid(provider<std::uint64_t>(u"").guid, other_guid));
}

struct lookup_failure {
    const char* what;
    std::u16string name;
    std::function<void(fake_tracing&)> setup;
    std::string message;
};

TEST_F(ProviderLookup, ReportsEachFailureWithItsHresult) {
    const std::vector<lookup_failure> cases = {
        {"unknown name", u"Nope", [](fake_tracing&) {}, "Provider name does not exist. (Nope), hr = 0x0"},
        {"names differ in case", u"microsoft-windows-kernel-file", [](fake_tracing&) {},
         "Provider name does not exist. (microsoft-windows-kernel-file), hr = 0x0"},
        {"empty collection, count's status", u"Microsoft-Windows-Kernel-File",
         [](fake_tracing& t) {
             t.providers.clear();
             t.get_count_answers.otherwise = 1;
         },
         "Provider name does not exist. (Microsoft-Windows-Kernel-File), hr = 0x1"},
        {"zero GUID found", u"Zero",
         [](fake_tracing& t) {
             t.providers.push_back({u"Zero", GUID{}});
         },
         "Provider name does not exist. (Zero), hr = 0x0"},
        {"UTF-8 name", u"Pr\u00f6vider", [](fake_tracing&) {},
         "Provider name does not exist. (Pr\xc3\xb6vider), hr = 0x0"},
        {"single-threaded apartment", u"Microsoft-Windows-Kernel-File",
         [](fake_tracing& t) { t.co_initialize_answers.otherwise = static_cast<std::int32_t>(0x80010106); },
         "Error in creating instance of trace providers, hr = 0x80010106"},
        {"class not registered", u"Microsoft-Windows-Kernel-File",
         [](fake_tracing& t) {
             t.co_create_instance_answers.otherwise = static_cast<std::int32_t>(0x80040154);
         },
         "Error in creating instance of trace providers, hr = 0x80040154"},
        {"providers not read", u"X",
         [](fake_tracing& t) {
             t.get_trace_data_providers_answers.otherwise = static_cast<std::int32_t>(0x80004005);
         },
         "Error in constructing guid from provider name (X), hr = 0x80004005"},
        {"count fails", u"X",
         [](fake_tracing& t) { t.get_count_answers.otherwise = static_cast<std::int32_t>(0x8000FFFF); },
         "Error in constructing guid from provider name (X), hr = 0x8000ffff"},
        {"second item fails", u"X",
         [](fake_tracing& t) { t.get_item_answers.then(0).then(static_cast<std::int32_t>(0x80070057)); },
         "Error in constructing guid from provider name (X), hr = 0x80070057"},
        {"display name fails", u"X",
         [](fake_tracing& t) {
             t.get_display_name_answers.otherwise = static_cast<std::int32_t>(0x8007000E);
         },
         "Error in constructing guid from provider name (X), hr = 0x8007000e"},
        {"GUID fails", u"Microsoft-Windows-Kernel-File",
         [](fake_tracing& t) { t.get_guid_answers.otherwise = static_cast<std::int32_t>(0x80004005); },
         "Error in constructing guid from provider name (Microsoft-Windows-Kernel-File), hr = 0x80004005"},
    };
    for (const auto& c : cases) {
        fake_tracing fresh;
        fresh.providers = tracing.providers;
        c.setup(fresh);
        const tallowick::platform::scoped_tracing scope(fresh);
        EXPECT_EQ(failure_of(c.name), c.message) << c.what;
        EXPECT_EQ(fresh.outstanding_com_objects(), 0) << c.what;
    }
}

TEST_F(ProviderLookup, LeavesTheApartmentOnlyWhenItJoinedIt) {
    tracing.co_initialize_answers.then(static_cast<std::int32_t>(0x80010106)).then(1);
    EXPECT_NE(failure_of(u"Microsoft-Windows-Kernel-File"), "no failure");
    EXPECT_EQ(tracing.count_of<tallowick::testing::co_uninitialize_call>(), 0u);
    // S_FALSE: already initialised in this mode on this thread, a success.
    EXPECT_EQ(failure_of(u"Nope"), "Provider name does not exist. (Nope), hr = 0x0");
    EXPECT_EQ(tracing.count_of<tallowick::testing::co_uninitialize_call>(), 1u);
}

TEST_F(ProviderLookup, SetAnyKeywordsReplacesTheMask) {
    provider<std::uint64_t> file(u"Microsoft-Windows-Kernel-File");
    file.set_any_keywords(0x1FA0);
    EXPECT_EQ(file.any_keywords, 0x1FA0u);
    EXPECT_EQ(file.all_keywords, 0u);
}

TEST(KernelProcessProvider, HasTheProcessFlagAndClassGuid) {
    const kernel::process_provider process;
    EXPECT_EQ(process.enable_flags, 1u);
    EXPECT_EQ(guid_text(process.provider_guid), "3d6fa8d0-fe05-11d0-9dda-00c04fd7ba7c");
    EXPECT_EQ(process.group_mask, 0u);
    EXPECT_EQ(process.rundown_keywords, 0u);
    EXPECT_FALSE(process.rundown_requested);
    EXPECT_TRUE(process.filters().empty());
}

TEST(ProviderDispatch, RunsCopiesOfTheFiltersInOrder) {
    std::vector<std::string> seen;
    const auto note = [&seen](std::string what) {
        return [&seen, what](const EVENT_RECORD&, const trace_context&) { seen.push_back(what); };
    };
    kernel::process_provider process;
    record_filter first({1}, {});
    first.add_event_callback(note("first"));
    process.attach_filter(first);
    first.add_event_callback(note("added later"));
    record_filter schema_missing(
        {}, [](const EVENT_RECORD&, const trace_context&) -> bool { throw could_not_find_schema("detail"); });
    schema_missing.add_event_callback(note("never"));
    schema_missing.add_error_callback(
        [&seen](const EVENT_RECORD&, const std::string& message) { seen.push_back(message); });
    process.attach_filter(schema_missing);
    record_filter last({2}, {});
    last.add_event_callback(note("last"));
    process.attach_filter(last);

    const EVENT_RECORD record{};
    const trace_context context;
    process.dispatch(record, context);
    EXPECT_EQ(seen, (std::vector<std::string>{"first", "Could not find the schema: detail", "last"}));
    EXPECT_EQ(process.filters().front().event_ids(), std::vector<std::uint16_t>{1});
}

TEST(ProviderDispatch, AnyOtherFailureStopsTheWalk) {
    kernel::process_provider process;
    record_filter failing({}, {});
    failing.add_event_callback(
        [](const EVENT_RECORD&, const trace_context&) { throw std::runtime_error("boom"); });
    process.attach_filter(failing);
    bool later_ran = false;
    record_filter later({}, {});
    later.add_event_callback([&](const EVENT_RECORD&, const trace_context&) { later_ran = true; });
    process.attach_filter(later);
    const EVENT_RECORD record{};
    const trace_context context;
    EXPECT_THROW(process.dispatch(record, context), std::runtime_error);
    EXPECT_FALSE(later_ran);
}

} // namespace
} // namespace etw
