#include "trace/manifest_trace.h"

#include "decoding/errors.h"
#include "decoding/record_filter.h"
#include "platform/windows_facts.h"
#include "session_fixture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <stdexcept>
#include <string>
#include <thread>

namespace etw::testing {
namespace {

using namespace std::chrono_literals;
using tallowick::testing::close_trace_call;
using tallowick::testing::control_trace_call;
using tallowick::testing::enable_trace_call;
using tallowick::testing::open_trace_call;
using tallowick::testing::process_trace_call;
using tallowick::testing::start_trace_call;

constexpr TRACEHANDLE invalid_handle = ~TRACEHANDLE{0};
const std::u16string file_session = u"Velmar_Trace_FileKernel";

std::string failure_of(const std::function<void()>& action) {
    try {
        action();
    } catch (const std::exception& error) {
        return error.what();
    }
    return "";
}

std::vector<std::byte> bytes(std::initializer_list<int> values) {
    std::vector<std::byte> result;
    for (const int value : values)
        result.push_back(static_cast<std::byte>(value));
    return result;
}

class ManifestTrace : public session_fixture {};

TEST_F(ManifestTrace, RegistersEnablesOpensAndProcesses) {
    manifest_trace session(file_session);
    session.enable(add_provider(file_guid));
    session.start();

    EXPECT_EQ(session_calls(), (call_list{"StartTraceW", "EnableTraceEx2", "OpenTraceW", "ProcessTrace"}));
    EXPECT_EQ(only<start_trace_call>().session_name, file_session);

    const auto enable = only<enable_trace_call>();
    EXPECT_EQ(enable.handle, 0x1000u);
    EXPECT_TRUE(same_guid(enable.provider, file_guid));
    EXPECT_EQ(enable.control_code, 1u);
    EXPECT_EQ(enable.level, 5);
    EXPECT_EQ(enable.match_any_keyword, 0u);
    EXPECT_EQ(enable.match_all_keyword, 0u);
    EXPECT_EQ(enable.timeout, 0u);
    ASSERT_TRUE(enable.parameters);
    EXPECT_EQ(enable.parameters->Version, 2u);
    EXPECT_EQ(enable.parameters->EnableProperty, 0u);
    EXPECT_EQ(enable.parameters->ControlFlags, 0u);
    EXPECT_TRUE(same_guid(enable.parameters->SourceId, file_guid));
    EXPECT_EQ(enable.parameters->EnableFilterDesc, nullptr);
    EXPECT_EQ(enable.parameters->FilterDescCount, 0u);

    auto open = only<open_trace_call>();
    EXPECT_EQ(open.logger_name, file_session);
    EXPECT_EQ(open.logfile.LogFileName, nullptr);
    EXPECT_EQ(open.logfile.ProcessTraceMode, 0x10001100u); // event records, real time, raw stamps
    EXPECT_EQ(open.logfile.Context, static_cast<trace_session*>(&session));
    EXPECT_EQ(open.logfile.EventRecordCallback, &manifest_trace::on_user_record);
    ASSERT_NE(open.logfile.BufferCallback, nullptr);
    EXPECT_EQ(open.logfile.BufferCallback(&open.logfile), 1u);

    const auto process = only<process_trace_call>();
    EXPECT_EQ(process.handles, (std::vector<TRACEHANDLE>{0x2000}));
    EXPECT_FALSE(process.start_time_given);
    EXPECT_FALSE(process.end_time_given);
}

TEST_F(ManifestTrace, PropertiesBlockCarriesTheNameAtItsFirstAreaAndPointsAtTheSecond) {
    const GUID fresh{0xA1B2C3D4, 0x1111, 0x2222, {1, 2, 3, 4, 5, 6, 7, 8}};
    tracing.created_guids = {fresh};
    manifest_trace session(file_session); // 23 characters
    session.start();

    std::vector<std::byte> expected(1160);
    const auto put = [&](std::size_t offset, const auto& value) {
        std::memcpy(expected.data() + offset, &value, sizeof value);
    };
    put(0, std::uint32_t{1160});        // Wnode.BufferSize
    put(24, fresh);                     // Wnode.Guid
    put(40, std::uint32_t{1});          // Wnode.ClientContext
    put(44, std::uint32_t{0x20000});    // Wnode.Flags
    put(64, std::uint32_t{0x10000100}); // LogFileMode
    put(116, std::uint32_t{640});       // LoggerNameOffset
    for (std::size_t i = 0; i < file_session.size(); ++i)
        put(120 + 2 * i, file_session[i]);
    EXPECT_EQ(only<start_trace_call>().properties, expected);
}

TEST_F(ManifestTrace, SizedBuffersGoIntoTheBlockAndPerProcessorBuffersDropTheSingleBufferMode) {
    struct row {
        etw::session_buffers buffers;
        std::uint32_t mode;
    };
    const row rows[] = {{{64, 16, 256, 1, true}, 0x100}, {{16, 4, 16, 2, false}, 0x10000100}};
    for (const row& r : rows) {
        manifest_trace session(file_session);
        session.size_buffers(r.buffers);
        session.start();
        const auto block = tracing.calls_of<start_trace_call>().back().properties;
        EXPECT_EQ(read<std::uint32_t>(block, 48), r.buffers.buffer_size_kb);
        EXPECT_EQ(read<std::uint32_t>(block, 52), r.buffers.minimum_buffers);
        EXPECT_EQ(read<std::uint32_t>(block, 56), r.buffers.maximum_buffers);
        EXPECT_EQ(read<std::uint32_t>(block, 64), r.mode);
        EXPECT_EQ(read<std::uint32_t>(block, 68), r.buffers.flush_timer_s);
    }
}

TEST_F(ManifestTrace, LostEventCountersAreReadByQueryAndKeptFromTheStop) {
    manifest_trace session(file_session);
    tracing.control_trace_events_lost = 7;
    EXPECT_EQ(session.query_statistics()->events_lost, 7u);
    EXPECT_EQ(tracing.calls_of<control_trace_call>().back().control_code, 0u); // the query code
    EXPECT_FALSE(session.final_statistics());

    tracing.control_trace_answers.then(4201);
    EXPECT_FALSE(session.query_statistics()); // not running: nothing to tell
    tracing.control_trace_events_lost = 9;
    session.stop();
    EXPECT_EQ(session.final_statistics()->events_lost, 9u);
    tracing.control_trace_answers.then(4201);
    session.stop(); // a second stop finds nothing and keeps the counters
    EXPECT_EQ(session.final_statistics()->events_lost, 9u);
}

TEST_F(ManifestTrace, LostEventRecordsAreCountedAsLossAndNeverDecoded) {
    const auto trace_record = [&](std::uint8_t type) -> const EVENT_RECORD& {
        simulated::record_description description;
        description.header.provider = tallowick::platform::event_trace_guid;
        description.header.opcode = type;
        description.schema_known = false; // a decoding attempt would throw and print
        return add_record(description);
    };
    const EVENT_RECORD& ours = add_record(file_guid, 12);
    tracing.delivered_records = {&trace_record(32), &ours, &trace_record(33), &trace_record(34),
                                 &trace_record(32)};
    manifest_provider& file = add_provider(file_guid);
    int seen = 0;
    record_filter counting({}, {});
    counting.add_event_callback([&](const EVENT_RECORD&, const trace_context&) { ++seen; });
    file.attach_filter(counting);
    manifest_trace session(file_session);
    session.enable(file);

    ::testing::internal::CaptureStdout();
    session.start();
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(session.loss_records(), 4u);
    EXPECT_EQ(seen, 1);
}

TEST_F(ManifestTrace, NamesWithoutRoomForTheirTerminatorAreRefusedBeforeAnyPlatformCall) {
    EXPECT_THROW(manifest_trace(std::u16string(260, u'x')), std::length_error);
    EXPECT_TRUE(tracing.calls().empty());

    const std::u16string longest(259, u'y');
    manifest_trace session(longest);
    session.start();
    const auto block = only<start_trace_call>().properties;
    EXPECT_EQ(read<char16_t>(block, 120 + 2 * 258), u'y');
    EXPECT_EQ(read<char16_t>(block, 120 + 2 * 259), u'\0');
    EXPECT_TRUE(std::all_of(block.begin() + 640, block.end(), [](std::byte b) { return b == std::byte{0}; }));
}

TEST_F(ManifestTrace, AnEmptyNameBecomesTheTextOfAFreshGuid) {
    const GUID fresh{0x0000ABCD, 0x12, 0x3400, {0xDE, 0xAD, 0xBE, 0xEF, 0, 1, 2, 3}};
    tracing.created_guids = {fresh};
    EXPECT_EQ(manifest_trace(u"").name(), u"{0000ABCD-0012-3400-DEAD-BEEF00010203}");

    tracing.string_from_clsid_answer = static_cast<tallowick::platform::hresult>(0x8007000E);
    EXPECT_THROW(manifest_trace(u""), std::bad_alloc);
}

// A session of the same name is left over from an earlier run.
struct leftover_case {
    std::uint32_t stop_status;
    std::uint32_t second_start_status;
    std::string failure; // empty: the session comes up
};

class LeftoverSession : public session_fixture, public ::testing::WithParamInterface<leftover_case> {};

TEST_P(LeftoverSession, IsStoppedAndCreatedAgainWithTheSecondResultChecked) {
    const leftover_case& c = GetParam();
    tracing.start_trace_answers.then({183, 0}).then({c.second_start_status, 0x1234});
    tracing.control_trace_answers.then(c.stop_status);
    manifest_trace session(file_session);
    session.enable(add_provider(file_guid));

    EXPECT_EQ(failure_of([&] { session.start(); }), c.failure);
    const auto starts = tracing.calls_of<start_trace_call>();
    ASSERT_EQ(starts.size(), 2u);
    EXPECT_EQ(starts[1].properties, starts[0].properties); // the first block, as the first call left it
    const auto stop = only<control_trace_call>();
    EXPECT_EQ(stop.handle, 0u);
    EXPECT_EQ(stop.session_name, file_session);
    EXPECT_EQ(stop.control_code, 1u);
    EXPECT_NE(read<GUID>(stop.properties, 24).Data1,
              read<GUID>(starts[0].properties, 24).Data1); // fresh block
    if (c.failure.empty()) {
        EXPECT_EQ(session_calls(), (call_list{"StartTraceW", "ControlTraceW", "StartTraceW", "EnableTraceEx2",
                                              "OpenTraceW", "ProcessTrace"}));
        EXPECT_EQ(only<enable_trace_call>().handle, 0x1234u);
    } else {
        EXPECT_EQ(session_calls(), (call_list{"StartTraceW", "ControlTraceW", "StartTraceW"}));
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, LeftoverSession,
                         ::testing::Values(leftover_case{0, 0, ""}, leftover_case{4201, 0, ""},
                                           leftover_case{234, 0, ""},  // stopped, with more to say
                                           leftover_case{1230, 0, ""}, // already stopping
                                           leftover_case{2402, 0, ""},
                                           leftover_case{0, 5, "Need to be an admin"},
                                           leftover_case{0, 1450, "No more trace sessions available."}));

class RefusedStop : public session_fixture, public ::testing::WithParamInterface<std::uint32_t> {};

TEST_P(RefusedStop, AttachesToTheRunningSessionWithoutEnablingAnything) {
    tracing.start_trace_answers.then({183, 0});
    tracing.control_trace_answers.then(GetParam());
    const EVENT_RECORD& record = add_record(file_guid, 12);
    tracing.delivered_records = {&record};
    manifest_provider& file = add_provider(file_guid);
    int seen = 0;
    record_filter counting({}, {});
    counting.add_event_callback([&](const EVENT_RECORD&, const trace_context&) { ++seen; });
    file.attach_filter(counting);
    manifest_trace session(file_session);
    session.enable(file);

    session.start();
    // Asked first whether the running session takes our provider at all.
    EXPECT_EQ(session_calls(),
              (call_list{"StartTraceW", "ControlTraceW", "OpenTraceW", "CloseTrace", "ControlTraceW",
                         "EnumerateTraceGuidsEx", "EnumerateTraceGuidsEx", "OpenTraceW", "ProcessTrace"}));
    EXPECT_EQ(tracing.calls_of<control_trace_call>().at(1).control_code, 0u); // a query
    EXPECT_EQ(only<close_trace_call>().handle, 0x2000u);
    EXPECT_EQ(seen, 1);
}

INSTANTIATE_TEST_SUITE_P(AccessDeniedOrInvalidParameter, RefusedStop, ::testing::Values(5u, 87u));

// Someone else's session of our name that we may not stop, and that cannot
// deliver our provider's records: saying so beats watching nothing.
struct attach_case {
    std::vector<std::uint16_t> enabling_loggers;
    std::uint32_t query_status;
    std::string failure;
};

class UselessAttachedSession : public session_fixture, public ::testing::WithParamInterface<attach_case> {};

TEST_P(UselessAttachedSession, IsAFailureAndIsNotStoppedByUs) {
    const attach_case& c = GetParam();
    tracing.enabling_loggers = c.enabling_loggers;
    tracing.start_trace_answers.then({183, 0});
    tracing.control_trace_answers.then(5).then(c.query_status);
    manifest_trace session(file_session);
    session.enable(add_provider(file_guid));
    EXPECT_EQ(failure_of([&] { session.start(); }),
              "a running session of this name may not be stopped, and " + c.failure);
    // Not ours to stop: the stop closes our side only, and says nothing.
    EXPECT_NO_THROW(session.stop());
    EXPECT_EQ(tracing.calls_of<control_trace_call>().size(), 2u);
    EXPECT_TRUE(tracing.calls_of<process_trace_call>().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UselessAttachedSession,
    ::testing::Values(attach_case{{3, 9}, 0, "it does not take provider " + guid_text(file_guid)},
                      attach_case{{}, 0, "it does not take provider " + guid_text(file_guid)},
                      attach_case{{7}, 5, "it cannot be queried (status 5)"}));

TEST_F(ManifestTrace, OtherFailuresOfTheLeftoverStopPropagate) {
    tracing.start_trace_answers.then({183, 0});
    tracing.control_trace_answers.then(1450);
    manifest_trace session(file_session);
    EXPECT_THROW(session.start(), no_trace_sessions_remaining);
    EXPECT_EQ(session_calls(), (call_list{"StartTraceW", "ControlTraceW"}));
}

TEST_F(ManifestTrace, FailuresOfOpeningAndProcessingAreRaised) {
    tracing.open_trace_answers.then(invalid_handle);
    manifest_trace session(file_session);
    EXPECT_EQ(failure_of([&] { session.start(); }), "Failure to open trace");

    tracing.on_process_trace = [](EVENT_TRACE_LOGFILEW&) { return 6u; };
    EXPECT_EQ(failure_of([&] { session.start(); }), "An unexpected error occurred: status_code=6");
}

// Providers merged by GUID: each entry lists the event ids of one filter.
struct filter_case {
    std::vector<std::vector<std::uint16_t>> filters;
    std::vector<std::byte> expected; // empty: no filter descriptor
};

class EventIdFilter : public session_fixture, public ::testing::WithParamInterface<filter_case> {};

TEST_P(EventIdFilter, LetsInTheUnionOfTheIdsInAscendingOrder) {
    manifest_provider& file = add_provider(file_guid);
    for (const auto& ids : GetParam().filters)
        file.attach_filter(record_filter(ids, {}));
    manifest_trace session(file_session);
    session.enable(file);
    session.start();

    const auto enable = only<enable_trace_call>();
    ASSERT_TRUE(enable.parameters);
    if (GetParam().expected.empty()) {
        EXPECT_EQ(enable.parameters->EnableFilterDesc, nullptr);
        EXPECT_EQ(enable.parameters->FilterDescCount, 0u);
        return;
    }
    EXPECT_EQ(enable.parameters->FilterDescCount, 1u);
    ASSERT_EQ(enable.filter_descriptors.size(), 1u);
    EXPECT_EQ(enable.filter_descriptors[0].Size, GetParam().expected.size());
    EXPECT_EQ(enable.filter_descriptors[0].Type, 0x80000200u);
    EXPECT_EQ(enable.filter_data[0], GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EventIdFilter,
    ::testing::Values(filter_case{{{12, 26, 27, 30}},
                                  bytes({0x01, 0, 0x04, 0, 0x0C, 0, 0x1A, 0, 0x1B, 0, 0x1E, 0})},
                      filter_case{{{30, 12, 12}}, bytes({0x01, 0, 0x02, 0, 0x0C, 0, 0x1E, 0})},
                      filter_case{{{30}, {}, {12, 30}}, bytes({0x01, 0, 0x02, 0, 0x0C, 0, 0x1E, 0})},
                      filter_case{{{0x1234}}, bytes({0x01, 0, 0x01, 0, 0x34, 0x12})}, filter_case{{}, {}},
                      filter_case{{{}, {}}, {}}));

TEST_F(ManifestTrace, ProvidersWithOneGuidShareOneEnableCallWithTheirSettingsOred) {
    manifest_provider& first = add_provider(file_guid);
    first.level = 2;
    first.any_keywords = 0x10;
    first.all_keywords = 0x1;
    first.enable_property = 0x4;
    first.attach_filter(record_filter({30, 12}, {}));
    manifest_provider& second = add_provider(file_guid);
    second.level = 4;
    second.any_keywords = 0x20;
    second.all_keywords = 0x2;
    second.enable_property = 0x8;
    second.attach_filter(record_filter({26}, {}));
    manifest_trace session(file_session);
    session.enable(first);
    session.enable(second);
    session.start();

    const auto enable = only<enable_trace_call>();
    EXPECT_EQ(enable.level, 6); // OR, not the greater
    EXPECT_EQ(enable.match_any_keyword, 0x30u);
    EXPECT_EQ(enable.match_all_keyword, 0x3u);
    EXPECT_EQ(enable.parameters->EnableProperty, 0xCu);
    EXPECT_EQ(enable.filter_data[0], bytes({0x01, 0, 0x03, 0, 0x0C, 0, 0x1A, 0, 0x1E, 0}));
}

TEST_F(ManifestTrace, GuidsAreEnabledInTheOrderOfTheirBytesAndTheFirstFailureStopsTheWalk) {
    // Data1 is little-endian: 0x00000100 is 00 01 00 00 in memory, before 01 00 00 00.
    const GUID numerically_first{0x00000001, 0, 0, {}};
    const GUID first_in_memory{0x00000100, 0, 0, {}};
    const manifest_provider& one = add_provider(numerically_first);
    const manifest_provider& two = add_provider(first_in_memory);
    manifest_trace session(file_session);
    session.enable(one);
    session.enable(two);
    session.start();
    const auto enables = tracing.calls_of<enable_trace_call>();
    ASSERT_EQ(enables.size(), 2u);
    EXPECT_TRUE(same_guid(enables[0].provider, first_in_memory));
    EXPECT_TRUE(same_guid(enables[1].provider, numerically_first));

    manifest_trace failing(u"Other");
    failing.enable(one);
    failing.enable(two);
    tracing.enable_trace_answers.then(5);
    EXPECT_THROW(failing.start(), need_to_be_admin_failure);
    EXPECT_EQ(tracing.count_of<enable_trace_call>(), 3u);
    EXPECT_EQ(session_calls().back(), "EnableTraceEx2");
}

TEST_F(ManifestTrace, RundownIsAskedPerRegistrationAfterOpening) {
    manifest_provider& file = add_provider(file_guid);
    file.rundown_requested = true;
    manifest_trace session(file_session);
    session.enable(file);
    session.enable(file);
    session.start();

    EXPECT_EQ(session_calls(), (call_list{"StartTraceW", "EnableTraceEx2", "OpenTraceW", "EnableTraceEx2",
                                          "EnableTraceEx2", "ProcessTrace"}));
    const auto rundown = tracing.calls_of<enable_trace_call>().back();
    EXPECT_EQ(rundown.handle, 0x1000u);
    EXPECT_TRUE(same_guid(rundown.provider, file_guid));
    EXPECT_EQ(rundown.control_code, 2u);
    EXPECT_EQ(rundown.level, 0);
    EXPECT_EQ(rundown.match_any_keyword, 0u);
    EXPECT_FALSE(rundown.parameters);
}

TEST_F(ManifestTrace, StopGoesByNameAndClosesTheConsumerOnce) {
    manifest_trace session(file_session);
    tracing.control_trace_answers.then(4201);
    session.stop(); // never started: nothing raised, nothing closed
    EXPECT_EQ(session_calls(), (call_list{"ControlTraceW"}));
    const auto stop = only<control_trace_call>();
    EXPECT_EQ(stop.handle, 0u);
    EXPECT_EQ(stop.session_name, file_session);
    EXPECT_EQ(stop.control_code, 1u);
    EXPECT_EQ(read<std::uint32_t>(stop.properties, 116), 640u);

    session.start(); // answers the stop that came first: no platform call
    EXPECT_EQ(session_calls(), (call_list{"ControlTraceW"}));
    session.start(); // the next one starts
    tracing.close_trace_answers.then(7007);
    session.stop();
    tracing.control_trace_answers.then(4201);
    session.stop();
    EXPECT_EQ(session_calls(), (call_list{"ControlTraceW", "StartTraceW", "OpenTraceW", "ProcessTrace",
                                          "ControlTraceW", "CloseTrace", "ControlTraceW"}));
    // Already on its way to stopping (someone else stopped it first): a stop, not a failure.
    for (const std::uint32_t stopping : {1230u, 2402u}) {
        tracing.control_trace_answers.then(stopping);
        EXPECT_NO_THROW(session.stop()) << stopping;
    }
}

TEST_F(ManifestTrace, AFailedStopStillClosesTheConsumer) {
    manifest_trace session(file_session);
    session.start();
    tracing.control_trace_answers.then(5);
    EXPECT_THROW(session.stop(), need_to_be_admin_failure);
    EXPECT_EQ(only<close_trace_call>().handle, 0x2000u);

    session.start(); // answers that stop
    session.start();
    tracing.close_trace_answers.then(6);
    EXPECT_THROW(session.stop(), unexpected_error);
    session.stop(); // the handle was forgotten all the same
    EXPECT_EQ(tracing.count_of<close_trace_call>(), 2u);
}

TEST_F(ManifestTrace, TheDestructorPrintsAFailedStopInsteadOfThrowing) {
    ::testing::internal::CaptureStdout();
    {
        manifest_trace session(file_session);
        session.start();
        tracing.control_trace_answers.then(5);
    }
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "TRACE SESSION Velmar_Trace_FileKernel CAUGHT ERROR: Need to be an admin\n");
    EXPECT_EQ(tracing.count_of<close_trace_call>(), 1u);
}

// The stop flushes the session's last buffers to the consumer: the close,
// after which ProcessTrace takes nothing more, waits until processing has
// returned with them.
TEST_F(ManifestTrace, AStopClosesTheConsumerOnlyOnceProcessingHasReturned) {
    std::atomic<bool> stopped{false};
    std::atomic<bool> returned{false};
    std::atomic<bool> closed_after_return{false};
    tracing.on_session_call = [&](std::string_view call) {
        if (call == "ControlTraceW")
            stopped.store(true);
        if (call == "CloseTrace")
            closed_after_return.store(returned.load());
    };
    tracing.on_process_trace = [&](EVENT_TRACE_LOGFILEW&) -> std::uint32_t {
        while (!stopped.load())
            std::this_thread::yield();
        std::this_thread::sleep_for(50ms); // the last buffers on their way
        returned.store(true);
        return 0;
    };
    manifest_trace session(file_session);
    session.enable(add_provider(file_guid));
    auto running = std::async(std::launch::async, [&] { session.start(); });
    while (tracing.count_of<process_trace_call>() == 0)
        std::this_thread::yield();
    session.stop();
    ASSERT_EQ(running.wait_for(30s), std::future_status::ready);
    EXPECT_TRUE(closed_after_return.load());
}

TEST_F(ManifestTrace, StopFromAnotherThreadEndsProcessingAndTheSessionCanStartAgain) {
    tracing.process_until_stopped = true;
    manifest_trace session(file_session);
    session.enable(add_provider(file_guid));
    auto running = std::async(std::launch::async, [&] { session.start(); });
    ASSERT_TRUE(tracing.wait_until_processing(30s));
    EXPECT_THROW(session.start(), std::logic_error);

    session.stop();
    ASSERT_EQ(running.wait_for(30s), std::future_status::ready);
    EXPECT_NO_THROW(running.get());
    EXPECT_EQ(session_calls(), (call_list{"StartTraceW", "EnableTraceEx2", "OpenTraceW", "ProcessTrace",
                                          "ControlTraceW", "CloseTrace"}));

    tracing.process_until_stopped = false;
    session.start();
    EXPECT_EQ(tracing.count_of<start_trace_call>(), 2u);
}

// Stop arrives while start is still inside the named start-up call.
class StopDuringStartUp : public session_fixture, public ::testing::WithParamInterface<std::string_view> {};

TEST_P(StopDuringStartUp, NeverLeavesTheSessionThreadProcessing) {
    tracing.process_until_stopped = true;
    manifest_trace session(file_session);
    session.enable(add_provider(file_guid));
    std::thread stopper;
    tracing.on_session_call = [&](std::string_view call) {
        if (call == GetParam() && !stopper.joinable())
            stopper = std::thread([&] { session.stop(); });
    };

    auto running = std::async(std::launch::async, [&] { session.start(); });
    ASSERT_EQ(running.wait_for(30s), std::future_status::ready);
    EXPECT_NO_THROW(running.get());
    stopper.join();
    // The stop waited for the start-up; processing then ended or never began.
    const auto calls = session_calls();
    ASSERT_GE(calls.size(), 5u);
    EXPECT_EQ(call_list(calls.begin(), calls.begin() + 3),
              (call_list{"StartTraceW", "EnableTraceEx2", "OpenTraceW"}));
    EXPECT_EQ(tracing.count_of<control_trace_call>(), 1u);
    EXPECT_EQ(only<close_trace_call>().handle, 0x2000u);
}

INSTANTIATE_TEST_SUITE_P(Calls, StopDuringStartUp,
                         ::testing::Values("StartTraceW", "EnableTraceEx2", "OpenTraceW"));

} // namespace
} // namespace etw::testing
