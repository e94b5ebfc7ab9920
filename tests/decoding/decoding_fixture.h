#pragma once
// Installs the scripted tracing fake and a system that converts SIDs, and keeps
// built records alive (their schemas known to the fake's TDH) for a test.

#include "decoding/trace_context.h"
#include "platform/simulated/record_builder.h"
#include "platform/windows_facts.h"
#include "support/fake_tracing.h"
#include "support/sid_and_text_system.h"

#include <gtest/gtest.h>

#include <deque>

namespace etw::testing {

namespace simulated = tallowick::platform::simulated;

class decoding_fixture : public ::testing::Test {
  protected:
    // Builds the record and makes TDH know it.
    const EVENT_RECORD& add(const simulated::record_description& description) {
        records_.push_back(simulated::build_record(description));
        tracing.tdh.add(records_.back());
        return records_.back().record();
    }

    // A record of one provider whose properties are `properties`.
    const EVENT_RECORD& add(std::vector<simulated::record_property> properties,
                            std::uint16_t header_flags = 0x40, std::uint16_t id = 1) {
        simulated::record_description description;
        description.header.provider = tallowick::platform::kernel_file_provider;
        description.header.id = id;
        description.header.flags = header_flags;
        description.properties = std::move(properties);
        return add(description);
    }

    std::size_t schema_fetches() const {
        return tracing.count_of<tallowick::testing::event_information_call>();
    }
    std::size_t size_queries() const { return tracing.count_of<tallowick::testing::property_size_call>(); }

    tallowick::testing::fake_tracing tracing;
    tallowick::testing::sid_and_text_system system;
    trace_context context;

  private:
    tallowick::platform::scoped_tracing tracing_scope_{tracing};
    tallowick::platform::scoped_system system_scope_{system};
    std::deque<simulated::built_record> records_;
};

} // namespace etw::testing
