#include "trace/record_dispatch.h"

#include "decoding/errors.h"
#include "decoding/record_filter.h"
#include "session_fixture.h"
#include "trace/kernel_logger_trace.h"
#include "trace/manifest_trace.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace etw::testing {
namespace {

using tallowick::testing::event_information_call;
using tallowick::testing::tdh_answer;

const GUID unregistered_guid{0x0BADF00D, 0x1, 0x2, {3, 4, 5, 6, 7, 8, 9, 10}};

// Records delivered to a file session, and what each provider's filters saw.
class Dispatch : public session_fixture {
  protected:
    // A filter that notes "<label> <event id>" for every record it is handed.
    record_filter noting(std::string label, event_predicate predicate = {}) {
        record_filter filter({}, std::move(predicate));
        filter.add_event_callback([this, label](const EVENT_RECORD& record, const trace_context&) {
            seen.push_back(label + " " + std::to_string(record.EventHeader.EventDescriptor.Id));
        });
        return filter;
    }
    manifest_provider& noted_provider(const GUID& guid, std::string label) {
        manifest_provider& registered = add_provider(guid);
        registered.attach_filter(noting(std::move(label)));
        return registered;
    }

    // Runs a file session over `records` and returns what it printed.
    std::string run(std::initializer_list<const EVENT_RECORD*> records) {
        tracing.delivered_records = records;
        ::testing::internal::CaptureStdout();
        session.start();
        return ::testing::internal::GetCapturedStdout();
    }

    std::size_t schema_fetches() const { return tracing.count_of<event_information_call>(); }

    std::vector<std::string> seen;
    manifest_trace session{u"Velmar_Trace_FileKernel"};
};

TEST_F(Dispatch, TheFirstProviderWithTheRecordsGuidTakesItWithoutAnySchema) {
    session.enable(noted_provider(file_guid, "first"));
    session.enable(noted_provider(file_guid, "second"));
    session.enable(noted_provider(process_guid, "process"));
    EXPECT_EQ(run({&add_record(file_guid, 12), &add_record(process_guid, 1)}), "");
    EXPECT_EQ(seen, (std::vector<std::string>{"first 12", "process 1"}));
    EXPECT_EQ(schema_fetches(), 0u);
}

TEST_F(Dispatch, ARecordOfAnUnknownGuidReachesTheProviderItsSchemaNames) {
    session.enable(noted_provider(process_guid, "process"));
    session.enable(noted_provider(file_guid, "file"));
    simulated::record_description description;
    description.header.provider = file_guid;
    description.header.id = tallowick::platform::file_create_event;
    description.properties = {simulated::record_property::uint32(u"Value", 1)};
    const auto named_by_schema = simulated::build_record(description);
    const std::vector<std::byte> info(named_by_schema.event_info().begin(),
                                      named_by_schema.event_info().end());
    const auto size = static_cast<std::uint32_t>(info.size());
    tracing.event_information_answers = {tdh_answer{122, size, {}}, tdh_answer{0, size, info}};

    EXPECT_EQ(run({&add_record(unregistered_guid, 12, false)}), "");
    EXPECT_EQ(seen, (std::vector<std::string>{"file 12"}));
    EXPECT_EQ(schema_fetches(), 2u);
}

TEST_F(Dispatch, ARecordThatMatchesNeitherWayCostsTwoSchemaCallsAndIsDropped) {
    session.enable(noted_provider(file_guid, "file"));
    EXPECT_EQ(run({&add_record(unregistered_guid, 7)}), "");
    EXPECT_TRUE(seen.empty());
    EXPECT_EQ(schema_fetches(), 2u);
}

TEST_F(Dispatch, AMissingSchemaInOneFilterDoesNotStopTheNextFromSeeingTheRecord) {
    manifest_provider& file = add_provider(file_guid);
    record_filter missing = noting(
        "never", [](const EVENT_RECORD&, const trace_context&) -> bool { throw could_not_find_schema(); });
    missing.add_error_callback(
        [this](const EVENT_RECORD&, const std::string& what) { seen.push_back(what); });
    file.attach_filter(missing);
    file.attach_filter(noting("next"));
    session.enable(file);
    EXPECT_EQ(run({&add_record(file_guid, 12)}), "");
    EXPECT_EQ(seen, (std::vector<std::string>{"Could not find the schema", "next 12"}));
}

// What a filter raises on the first record, and the line the session prints.
struct boundary_case {
    std::function<void()> raise;
    std::string printed;
};

class CallbackBoundary : public Dispatch, public ::testing::WithParamInterface<boundary_case> {};

TEST_P(CallbackBoundary, PrintsTheErrorDropsTheRecordAndGoesOn) {
    manifest_provider& file = add_provider(file_guid);
    record_filter raising = noting("first");
    raising.add_event_callback([](const EVENT_RECORD& record, const trace_context&) {
        if (record.EventHeader.EventDescriptor.Id == 12)
            GetParam().raise();
    });
    file.attach_filter(raising);
    file.attach_filter(noting("later"));
    session.enable(file);

    EXPECT_EQ(run({&add_record(file_guid, 12), &add_record(file_guid, 30)}),
              "TRACE SESSION Velmar_Trace_FileKernel CAUGHT ERROR: " + GetParam().printed + "\n");
    EXPECT_EQ(seen, (std::vector<std::string>{"first 12", "first 30", "later 30"}));
}

INSTANTIATE_TEST_SUITE_P(Errors, CallbackBoundary,
                         ::testing::Values(boundary_case{[] { throw std::runtime_error("boom"); }, "boom"},
                                           boundary_case{[] { throw invalid_parameter(); },
                                                         "Invalid parameter given"},
                                           boundary_case{[] { throw 42; }, "unknown exception"}));

TEST_F(Dispatch, AFailedSchemaFallbackIsPrintedAndTheNextRecordDispatched) {
    session.enable(noted_provider(file_guid, "file"));
    EXPECT_EQ(
        run({&add_record(unregistered_guid, 7, false), &add_record(file_guid, 26)}),
        "TRACE SESSION Velmar_Trace_FileKernel CAUGHT ERROR: Could not find the schema: status_code=1168 "
        "provider_id=0badf00d-0001-0002-0304-05060708090a event_id=7\n");
    EXPECT_EQ(seen, (std::vector<std::string>{"file 26"}));
}

TEST_F(Dispatch, KernelRecordsAreMatchedOnTheirHeaderAloneAndNeverFetchASchema) {
    kernel::process_provider processes;
    processes.attach_filter(noting("process"));
    kernel::kernel_provider other(0x8, unregistered_guid);
    other.attach_filter(noting("other"));
    kernel_logger_trace kernel(u"Velmar_Trace_WindowsKernel");
    kernel.enable(processes);
    kernel.enable(other);
    simulated::process_event started;
    started.process_id = 4242;
    const EVENT_RECORD& start = add_record(simulated::describe_process_event(started));
    const EVENT_RECORD& unknown = add_record(file_guid, 12);
    tracing.delivered_records = {&start, &unknown};

    kernel.start();
    EXPECT_EQ(seen, (std::vector<std::string>{"process 0"}));
    EXPECT_EQ(schema_fetches(), 0u);
}

} // namespace
} // namespace etw::testing
