#pragma once
// Sessions against the scripted tracing fake: providers looked up through its
// provider collection, records built with the record builder and known to its TDH.

#include "platform/guid.h"
#include "platform/simulated/record_builder.h"
#include "platform/windows_facts.h"
#include "support/fake_tracing.h"
#include "support/sid_and_text_system.h"
#include "trace/session_providers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

namespace etw::testing {

namespace simulated = tallowick::platform::simulated;
using tallowick::platform::guid_text;
using tallowick::platform::same_guid;
using tallowick::testing::fake_tracing;

inline constexpr GUID file_guid = tallowick::platform::kernel_file_provider;
inline constexpr GUID process_guid = tallowick::platform::kernel_process_provider;

class session_fixture : public ::testing::Test {
  protected:
    // A provider registered with the platform under `guid` (and a name of its
    // own), looked up by its name; it stays put for the test.
    manifest_provider& add_provider(const GUID& guid) {
        std::u16string name = u"Provider ";
        for (const char digit : std::to_string(providers_.size()))
            name.push_back(static_cast<char16_t>(digit));
        tracing.providers.push_back({name, guid});
        return providers_.emplace_back(name);
    }

    // A built record whose schema the fake's TDH knows (unless it says otherwise).
    const EVENT_RECORD& add_record(const simulated::record_description& description) {
        records_.push_back(simulated::build_record(description));
        tracing.tdh.add(records_.back());
        return records_.back().record();
    }
    const EVENT_RECORD& add_record(const GUID& provider, std::uint16_t id, bool schema_known = true) {
        simulated::record_description description;
        description.header.provider = provider;
        description.header.id = id;
        description.properties = {simulated::record_property::uint32(u"Value", id)};
        description.schema_known = schema_known;
        return add_record(description);
    }

    // The calls that make up a session's life, without the GUID, version and
    // provider-lookup calls around them.
    std::vector<std::string_view> session_calls() const {
        static constexpr std::array<std::string_view, 9> wanted{
            "StartTraceW",          "ControlTraceW", "EnableTraceEx2",           "OpenTraceW",
            "ProcessTrace",         "CloseTrace",    "NtQuerySystemInformation", "NtSetSystemInformation",
            "EnumerateTraceGuidsEx"};
        std::vector<std::string_view> names = tracing.call_names();
        std::erase_if(names, [](std::string_view name) {
            return std::find(wanted.begin(), wanted.end(), name) == wanted.end();
        });
        return names;
    }

    template <typename Call> Call only() const {
        const auto calls = tracing.calls_of<Call>();
        EXPECT_EQ(calls.size(), 1u) << Call::name;
        return calls.empty() ? Call{} : calls.front();
    }

    template <typename Field> static Field read(const std::vector<std::byte>& block, std::size_t offset) {
        Field value{};
        if (offset + sizeof value <= block.size())
            std::memcpy(&value, block.data() + offset, sizeof value);
        return value;
    }

    fake_tracing tracing;
    tallowick::testing::sid_and_text_system system;

  private:
    tallowick::platform::scoped_tracing tracing_scope_{tracing};
    tallowick::platform::scoped_system system_scope_{system};
    std::deque<manifest_provider> providers_;
    std::deque<simulated::built_record> records_;
};

using call_list = std::vector<std::string_view>;

} // namespace etw::testing
