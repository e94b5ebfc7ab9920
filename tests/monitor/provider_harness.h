#pragma once
// Runs built records through a configured provider, as its session's thread
// would, with a pool of one worker (so tasks run in queue order), and collects
// what came of them: the console text and the messages handed to the sink.

#include "decoding/trace_context.h"
#include "platform/simulated/record_builder.h"
#include "platform/simulated/simulated_system.h"
#include "pool/thread_pool.h"
#include "recording_sink.h"
#include "support/fake_tracing.h"
#include "support/json_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <ostream>
#include <string>
#include <vector>

namespace tallowick::testing {

namespace simulated = platform::simulated;

struct outcome {
    std::string console;
    std::vector<std::string> messages = {};

    bool operator==(const outcome&) const = default;
    friend std::ostream& operator<<(std::ostream& out, const outcome& o) {
        out << "console: \"" << o.console << "\" messages:";
        for (const std::string& message : o.messages)
            out << "\n  " << message;
        return out;
    }
};

// The description without the named property.
inline simulated::record_description without(simulated::record_description description,
                                             const std::u16string& name) {
    std::erase_if(description.properties, [&name](const auto& property) { return property.name == name; });
    return description;
}

// The description with the named property replaced.
inline simulated::record_description with(simulated::record_description description,
                                          simulated::record_property replacement) {
    for (auto& property : description.properties)
        if (property.name == replacement.name)
            property = replacement;
    return description;
}

class provider_harness : public ::testing::Test {
  protected:
    explicit provider_harness(const simulated::machine_inventory& model) : system(model) {}

    // Builds the record, tells the fake's TDH about it and, with a fresh pool
    // and a fresh context (the schema cache keeps one schema per kind of
    // record, and tests vary them), hands it to the provider `configure`
    // returns for that pool. The pool is gone, its tasks all run, before the
    // outcome is read; the kinds of its messages are left in `kinds`.
    template <typename Configure>
    outcome run(const simulated::record_description& description, Configure configure) {
        records_.push_back(simulated::build_record(description));
        tracing.tdh.add(records_.back());
        ::testing::internal::CaptureStdout();
        {
            pool::thread_pool pool(1);
            const auto provider = configure(pool);
            provider.dispatch(records_.back().record(), etw::trace_context{});
        }
        kinds = sink.take_kinds();
        return {::testing::internal::GetCapturedStdout(), sink.take_messages()};
    }

    fake_tracing tracing;
    simulated::simulated_system system;
    recording_sink sink;
    std::vector<monitor::message_kind> kinds;

  private:
    platform::scoped_tracing tracing_scope_{tracing};
    platform::scoped_system system_scope_{system};
    std::deque<simulated::built_record> records_;
};

} // namespace tallowick::testing
