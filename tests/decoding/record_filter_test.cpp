#include "decoding/record_filter.h"

#include "decoding/errors.h"
#include "decoding/trace_context.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace etw {
namespace {

class RecordFilter : public ::testing::Test {
  protected:
    event_callback note(std::string what) {
        return [this, what](const EVENT_RECORD&, const trace_context&) { seen.push_back(what); };
    }
    event_error_callback note_error(std::string what) {
        return
            [this, what](const EVENT_RECORD&, const std::string& message) { seen.push_back(what + message); };
    }
    static bool throws_schema(const EVENT_RECORD&, const trace_context&) {
        throw could_not_find_schema("status_code=1168 provider_id=x event_id=1");
    }

    std::vector<std::string> seen;
    EVENT_RECORD record{};
    trace_context context;
};

TEST_F(RecordFilter, WithoutEventCallbacksThePredicateIsNeverAsked) {
    record_filter filter(
        {}, [](const EVENT_RECORD&, const trace_context&) -> bool { throw std::logic_error("asked"); });
    filter.add_error_callback(note_error("error: "));
    EXPECT_NO_THROW(filter.handle_event(record, context));
    EXPECT_TRUE(seen.empty());
}

TEST_F(RecordFilter, RunsItsCallbacksInOrderForAcceptedRecords) {
    record_filter any({12, 26}, {});
    any.add_event_callback(note("one"));
    any.add_event_callback(note("two"));
    any.handle_event(record, context);
    EXPECT_EQ(seen, (std::vector<std::string>{"one", "two"}));
    EXPECT_EQ(any.event_ids(), (std::vector<std::uint16_t>{12, 26}));

    seen.clear();
    record_filter none({}, [](const EVENT_RECORD&, const trace_context&) { return false; });
    none.add_event_callback(note("never"));
    none.handle_event(record, context);
    EXPECT_TRUE(seen.empty());
}

TEST_F(RecordFilter, AMissingSchemaGoesToTheErrorCallbacksInstead) {
    record_filter filtering({}, throws_schema);
    filtering.add_event_callback(note("never"));
    filtering.add_error_callback(note_error("first: "));
    filtering.add_error_callback(note_error("second: "));
    filtering.handle_event(record, context);
    EXPECT_EQ(seen, (std::vector<std::string>{
                        "first: Could not find the schema: status_code=1168 provider_id=x event_id=1",
                        "second: Could not find the schema: status_code=1168 provider_id=x event_id=1"}));

    seen.clear();
    record_filter handling({}, {});
    handling.add_event_callback(note("ran"));
    handling.add_event_callback(throws_schema);
    handling.add_event_callback(note("not reached"));
    handling.add_error_callback(note_error("error: "));
    handling.handle_event(record, context);
    EXPECT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0], "ran");
}

TEST_F(RecordFilter, OtherFailuresGoToTheCaller) {
    record_filter failing(
        {}, [](const EVENT_RECORD&, const trace_context&) -> bool { throw unexpected_error(6u); });
    failing.add_event_callback(note("never"));
    failing.add_error_callback(note_error("error: "));
    EXPECT_THROW(failing.handle_event(record, context), unexpected_error);

    record_filter empty_callback({}, {});
    empty_callback.add_event_callback(event_callback());
    EXPECT_THROW(empty_callback.handle_event(record, context), std::bad_function_call);
    EXPECT_TRUE(seen.empty());
}

TEST_F(RecordFilter, CopiesAreIndependent) {
    record_filter original({1}, {});
    original.add_event_callback(note("original"));
    const record_filter copy = original;
    original.add_event_callback(note("added"));
    copy.handle_event(record, context);
    EXPECT_EQ(seen, std::vector<std::string>{"original"});
}

} // namespace
} // namespace etw
