#include "platform/simulated/simulated_tracing.h"

#include "platform/simulated/guids.h"
#include "platform/simulated/simulated_system.h"
#include "platform/system_api.h"
#include "platform/trace_consumer.h"
#include "platform/tracing_api.h"
#include "platform/windows_facts.h"
#include "support/gate.h"
#include "trace/provider_lookup.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

namespace tallowick::platform::simulated {
namespace {

namespace sdk = platform::sdk;
using testing::make_properties;
using testing::trace_consumer;
using namespace std::chrono_literals;

constexpr GUID guid_a{0x11111111, 0x2222, 0x3333, {1, 2, 3, 4, 5, 6, 7, 8}};
constexpr GUID guid_b{0xAAAAAAAA, 0xBBBB, 0xCCCC, {8, 7, 6, 5, 4, 3, 2, 1}};
constexpr auto patience = 30s;

bool same(const GUID& left, const GUID& right) {
    return std::memcmp(&left, &right, sizeof(GUID)) == 0;
}

built_record file_record(std::uint16_t id, std::uint64_t keywords, std::uint8_t level = 4) {
    file_event event;
    event.id = id;
    event.process_id = 4242;
    event.name = u"\\Device\\HarddiskVolume3\\a.txt";
    record_description description = describe_file_event(event);
    description.header.keywords = keywords;
    description.header.level = level;
    return build_record(description);
}

built_record process_record(std::uint8_t opcode) {
    process_event event;
    event.opcode = opcode;
    event.process_id = 9;
    event.parent_id = 8;
    return build_record(describe_process_event(event));
}

TEST(SimulatedTracing, LooksProvidersUpByNameInCollectionOrder) {
    machine_config machine;
    machine.providers = {{"Alpha", guid_a}, {"Beta", guid_b}, {"Alpha", guid_b}};
    simulated_tracing tracing(machine);
    simulated_system system;
    const scoped_tracing installed(tracing);
    const scoped_system installed_system(system);

    EXPECT_TRUE(same(etw::find_provider_guid(u"Alpha"), guid_a)); // the first of two
    EXPECT_TRUE(same(etw::find_provider_guid(u"Beta"), guid_b));
    EXPECT_THROW(
        {
            try {
                etw::find_provider_guid(u"alpha");
            } catch (const std::runtime_error& error) {
                EXPECT_STREQ(error.what(), "Provider name does not exist. (alpha), hr = 0x0");
                throw;
            }
        },
        std::runtime_error);
    EXPECT_EQ(tracing.live_com_objects(), 0u);

    // A thread in a single-threaded apartment cannot join the multithreaded one.
    std::thread([&] {
        EXPECT_EQ(tracing.co_initialize_ex(nullptr, 2), 0);
        EXPECT_EQ(static_cast<std::uint32_t>(tracing.co_initialize_ex(nullptr, 0)), 0x80010106u);
        EXPECT_EQ(tracing.co_initialize_ex(nullptr, 2), 1); // S_FALSE
        tracing.co_uninitialize();
        tracing.co_uninitialize();
    }).join();
}

TEST(SimulatedTracing, CreatesSessionsUnderTheMachinesRules) {
    machine_config machine;
    machine.trace_session_limit = 4;
    machine.running_sessions = {{"Leftover_Stoppable", 0, {}, 0},
                                {"Leftover_Refusing", 5, {}, 0},
                                {"Leftover_More_Data", 234, {}, 0}};
    simulated_tracing tracing(machine);

    trace_consumer first(tracing, u"First");
    EXPECT_EQ(first.start(), 0u);
    EXPECT_EQ(trace_consumer(tracing, u"FIRST").start(), 183u);   // names compare without case
    EXPECT_EQ(trace_consumer(tracing, u"Second").start(), 1450u); // the leftovers count

    EXPECT_EQ(trace_consumer(tracing, u"Leftover_Refusing").stop(), 5u);
    EXPECT_EQ(trace_consumer(tracing, u"Leftover_Refusing").start(), 183u);
    EXPECT_EQ(trace_consumer(tracing, u"Leftover_Stoppable").stop(), 0u);
    EXPECT_EQ(trace_consumer(tracing, u"Leftover_Stoppable").stop(), 4201u);
    trace_consumer again(tracing, u"Leftover_Stoppable");
    EXPECT_EQ(again.start(), 0u);
    EXPECT_EQ(trace_consumer(tracing, u"Never_Started").stop(), 4201u);
    EXPECT_EQ(trace_consumer(tracing, u"Leftover_More_Data").stop(), 234u); // and stopped all the same
    EXPECT_EQ(trace_consumer(tracing, u"Leftover_More_Data").stop(), 4201u);
    // The name is written back with its terminator into a 260-unit area.
    EXPECT_EQ(trace_consumer(tracing, std::u16string(260, u'n')).start(), 24u);

    machine.admin = false;
    simulated_tracing no_admin(machine);
    EXPECT_EQ(trace_consumer(no_admin, u"First").start(), 5u);
}

// What a controller learns of a running session: a query gives its handle
// (logger id in the low 16 bits) and a kernel logger's flags; the platform
// names the sessions that enable a provider.
TEST(SimulatedTracing, AnswersQueriesAndWhichSessionsEnableAProvider) {
    machine_config machine;
    machine.running_sessions = {{"Theirs", 5, {kernel_file_provider}, 0}, {"Their_Kernel", 5, {}, 0x11}};
    simulated_tracing tracing(machine);
    trace_consumer ours(tracing, u"Ours");
    ASSERT_EQ(ours.start(), 0u);
    ASSERT_EQ(ours.enable(kernel_file_provider, 4, 0, 0), 0u);

    const auto query = [&tracing](const char16_t* name) {
        auto block = make_properties();
        const std::uint32_t status =
            tracing.control_trace(0, name, &block.properties, sdk::event_trace_control_query);
        return std::tuple(status, static_cast<std::uint16_t>(block.properties.Wnode.HistoricalContext),
                          block.properties.EnableFlags);
    };
    const auto [theirs_status, theirs_id, theirs_flags] = query(u"Theirs");
    const auto [kernel_status, kernel_id, kernel_flags] = query(u"Their_Kernel");
    const auto [ours_status, ours_id, ours_flags] = query(u"Ours");
    EXPECT_EQ(theirs_status + kernel_status + ours_status, 0u);
    EXPECT_EQ(kernel_flags, 0x11u);
    EXPECT_EQ(theirs_flags + ours_flags, 0u);
    EXPECT_EQ(std::get<0>(query(u"Nobody")), 4201u);

    std::uint32_t needed = 0;
    ASSERT_EQ(tracing.enumerate_trace_guids_ex(sdk::trace_guid_query_info, &kernel_file_provider,
                                               sizeof(GUID), nullptr, 0, &needed),
              122u);
    std::vector<std::byte> answer(needed);
    ASSERT_EQ(tracing.enumerate_trace_guids_ex(sdk::trace_guid_query_info, &kernel_file_provider,
                                               sizeof(GUID), answer.data(), needed, &needed),
              0u);
    std::vector<std::uint16_t> loggers;
    for (std::size_t at = sdk::trace_guid_info_size + sdk::trace_provider_instance_info_size;
         at < answer.size(); at += sdk::trace_enable_info_size) {
        std::uint16_t id = 0;
        std::memcpy(&id, answer.data() + at + sdk::trace_enable_info_logger_id_offset, sizeof id);
        loggers.push_back(id);
    }
    std::sort(loggers.begin(), loggers.end());
    std::vector<std::uint16_t> expected{theirs_id, ours_id};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(loggers, expected);
    EXPECT_NE(kernel_id, theirs_id);
}

TEST(SimulatedTracing, DeliversWhatTheEnabledSettingsLetThrough) {
    simulated_tracing tracing(machine_config{});
    trace_consumer file(tracing, u"File");
    ASSERT_EQ(file.start(), 0u);
    ASSERT_EQ(file.enable(kernel_file_provider, 4, 0xA0 | 0x400 | 0x800, 0, {12, 26, 27}), 0u);
    ASSERT_TRUE(file.open());
    file.process();
    ASSERT_TRUE(tracing.wait_for_processing(1, {}));

    struct delivery_case {
        std::uint16_t id;
        std::uint64_t keywords;
        std::uint8_t level;
        std::size_t consumers;
    };
    const delivery_case cases[] = {
        {12, 0xA0, 4, 1},   {26, 0x400, 4, 1},
        {27, 0x800, 4, 1},  {30, 0x1000, 4, 0}, // not in the event-id filter
        {12, 0x1000, 4, 0},                     // no keyword in MatchAnyKeyword
        {12, 0, 4, 1},                          // keywords 0 pass
        {12, 0xA0, 5, 0},                       // above the enabled level
    };
    for (const delivery_case& item : cases) {
        built_record record = file_record(item.id, item.keywords, item.level);
        EXPECT_EQ(tracing.deliver(record, patience, {}).consumers, item.consumers)
            << "event " << item.id << " keywords " << item.keywords << " level " << int{item.level};
    }
    built_record kernel = process_record(1);
    EXPECT_EQ(tracing.deliver(kernel, patience, {}).consumers, 0u);

    // MatchAllKeyword: every bit of it must be in the record's keywords.
    ASSERT_EQ(file.enable(kernel_file_provider, 5, 0, 0x80 | 0x20, {}), 0u);
    built_record both = file_record(30, 0xA0);
    built_record one = file_record(30, 0x80);
    EXPECT_EQ(tracing.deliver(both, patience, {}).consumers, 1u);
    EXPECT_EQ(tracing.deliver(one, patience, {}).consumers, 0u);
    EXPECT_EQ(file.stop(), 0u);
    EXPECT_EQ(file.wait_for_return(), 0u);
    const auto received = file.records();
    ASSERT_EQ(received.size(), 5u);
    // Back to back, faster than the clock's step: still one time after another.
    for (std::size_t i = 1; i < received.size(); ++i)
        EXPECT_GT(received[i].time_stamp, received[i - 1].time_stamp) << i;
}

// Keywords decide what the provider writes at all; the event-id filter drops
// what was written. Under the four reported events' keywords no read (15),
// write (16) or close (14) is generated; under FILEIO each is, for nothing.
TEST(SimulatedTracing, KeywordsDecideWhatTheProviderGenerates) {
    simulated_tracing tracing(machine_config{});
    trace_consumer file(tracing, u"File");
    ASSERT_EQ(file.start(), 0u);
    ASSERT_TRUE(file.open());
    file.process();
    ASSERT_TRUE(tracing.wait_for_processing(1, {}));
    struct generation_case {
        std::uint64_t enabled;
        std::size_t generated;
    };
    for (const generation_case& item : {generation_case{0x1C80, 1}, generation_case{0x1FA0, 4}}) {
        ASSERT_EQ(file.enable(kernel_file_provider, 4, item.enabled, 0, {12, 26, 27, 30}), 0u);
        std::size_t generated = 0;
        std::size_t delivered = 0;
        for (const auto& [id, keywords] :
             {std::pair<std::uint16_t, std::uint64_t>{12, 0xA0}, {15, 0x120}, {16, 0x220}, {14, 0x20}}) {
            built_record record = file_record(id, keywords);
            const delivery_outcome outcome = tracing.deliver(record, patience, {});
            generated += outcome.generated;
            delivered += outcome.consumers;
        }
        EXPECT_EQ(generated, item.generated) << std::hex << item.enabled;
        EXPECT_EQ(delivered, 1u) << std::hex << item.enabled;
    }
    EXPECT_EQ(file.stop(), 0u);
    EXPECT_EQ(file.wait_for_return(), 0u);
}

TEST(SimulatedTracing, KernelLoggerTakesProcessRecordsByItsFlags) {
    struct kernel_case {
        const char* version;
        std::u16string name;
        std::uint32_t mode;
        std::uint32_t flags;
        GUID guid;
        std::uint32_t start_status;
        std::size_t consumers;
    };
    const GUID system_trace = platform::system_trace_control_guid;
    const kernel_case cases[] = {
        {"10.0", u"Kernel", 0x12000100, 0x1, {}, 0, 1},
        {"10.0", u"Kernel", 0x12000100, 0x8, {}, 0, 0},
        {"10.0", u"Kernel", 0x10000100, 0x1, {}, 0, 0}, // not a kernel logger
        {"6.1", u"Kernel", 0x12000100, 0x1, {}, 87, 0}, // no system loggers before Windows 8
        {"6.1", u"NT Kernel Logger", 0x10000100, 0x1, system_trace, 0, 1},
        {"6.1", u"Kernel", 0x10000100, 0x1, system_trace, 87, 0},
    };
    for (const kernel_case& item : cases) {
        SCOPED_TRACE(std::string(item.version) + " mode " + std::to_string(item.mode));
        machine_config machine;
        machine.major_version = item.version[0] == '6' ? 6 : 10;
        machine.minor_version = item.version[0] == '6' ? 1 : 0;
        simulated_tracing tracing(machine);
        trace_consumer kernel(tracing, item.name);
        ASSERT_EQ(kernel.start(make_properties(item.mode, item.flags, item.guid)), item.start_status);
        if (item.start_status != 0)
            continue;
        ASSERT_TRUE(kernel.open());
        kernel.process();
        ASSERT_TRUE(tracing.wait_for_processing(1, {}));
        built_record record = process_record(1);
        EXPECT_EQ(tracing.deliver(record, patience, {}).consumers, item.consumers);
    }
}

// The rundown: one DCStart per process when the kernel session starts, read
// before anything else, and one DCEnd per process still there at its stop.
// Stamps: one counter, raw where asked for, else converted from each
// session's own start (a leftover session's off by the clock set since).
TEST(SimulatedTracing, RunsDownProcessesAndStampsEveryRecordByOneCounter) {
    machine_config machine;
    machine.inventory.processes = {
        {600, "\\Device\\HarddiskVolume3\\a.exe", "S-1-5-18", process_access::full, 4},
        {700, "\\Device\\HarddiskVolume3\\b.exe", "S-1-5-18", process_access::full, 4}};
    machine.running_sessions.push_back({"Old", 0, {guid_a}, 0, 1000});
    const simulated_system system(machine.inventory);
    simulated_tracing tracing(machine, &system);
    trace_consumer kernel(tracing, u"Kernel");
    ASSERT_EQ(kernel.start(make_properties(0x12000100, 0x1)), 0u);
    ASSERT_TRUE(kernel.open());
    kernel.process();
    const std::vector<testing::received_record> rundown = kernel.records_when(2);
    ASSERT_EQ(rundown.size(), 2u);
    for (const testing::received_record& record : rundown)
        EXPECT_EQ(record.opcode, rundown_start_opcode);

    trace_consumer raw(tracing, u"Raw");
    ASSERT_EQ(raw.start(), 0u);
    ASSERT_EQ(raw.enable(guid_a, 5, 0, 0), 0u);
    ASSERT_TRUE(raw.open(sdk::process_trace_mode_raw_timestamp));
    raw.process();
    trace_consumer old(tracing, u"Old");
    ASSERT_TRUE(old.open());
    old.process();
    ASSERT_TRUE(tracing.wait_for_processing(3, {}));
    built_record record = file_record(12, 0);
    record.record().EventHeader.ProviderId = guid_a;
    tracing.describe(record);
    const std::int64_t stamp = tracing.next_time_stamp() + 1;
    EXPECT_EQ(tracing.deliver(record, patience, {}, stamp).consumers, 2u);
    ASSERT_EQ(raw.records_when(1).size(), 1u);
    ASSERT_EQ(old.records_when(1).size(), 1u);
    EXPECT_EQ(raw.records()[0].time_stamp, stamp);
    EXPECT_EQ(old.records()[0].time_stamp, tracing.system_time_of(stamp) + 1000 * 10'000);
    EXPECT_GT(rundown[0].time_stamp, 0); // converted: system time, before any step
    EXPECT_LT(rundown[0].time_stamp, tracing.system_time_of(stamp));
    tracing.forget(record);

    const_cast<simulated_system&>(system).remove_process(700);
    EXPECT_EQ(kernel.stop(), 0u);
    ASSERT_EQ(kernel.wait_for_return(), std::optional<std::uint32_t>(0));
    const std::vector<testing::received_record> all = kernel.records();
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[2].opcode, rundown_end_opcode);
}

// A held session keeps what it is handed and the player does not wait for it;
// released, it gets it all, in order.
TEST(SimulatedTracing, AHeldSessionGetsItsRecordsInOrderWhenReleased) {
    simulated_tracing tracing(machine_config{});
    trace_consumer held(tracing, u"Held");
    ASSERT_EQ(held.start(), 0u);
    ASSERT_EQ(held.enable(guid_a, 5, 0, 0), 0u);
    ASSERT_TRUE(held.open());
    held.process();
    ASSERT_TRUE(tracing.wait_for_processing(1, {}));
    EXPECT_FALSE(tracing.hold(u"Nobody"));
    ASSERT_TRUE(tracing.hold(u"held")); // names compare without regard to case
    std::vector<built_record> records;
    for (std::uint16_t id : {12, 26, 27}) {
        records.push_back(file_record(id, 0));
        records.back().record().EventHeader.ProviderId = guid_a;
        tracing.describe(records.back());
        EXPECT_EQ(tracing.deliver(records.back(), patience, {}).consumers, 0u);
    }
    EXPECT_TRUE(held.records().empty());
    EXPECT_TRUE(tracing.release(u"Held", patience, {}));
    const std::vector<testing::received_record> got = held.records_when(3);
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].id, 12);
    EXPECT_EQ(got[1].id, 26);
    EXPECT_EQ(got[2].id, 27);
    EXPECT_LT(got[0].time_stamp, got[2].time_stamp);
    for (const built_record& record : records)
        tracing.forget(record);
}

TEST(SimulatedTracing, ExchangesTheKernelGroupMasks) {
    simulated_tracing tracing(machine_config{});
    trace_consumer kernel(tracing, u"Kernel");
    ASSERT_EQ(kernel.start(make_properties(0x12000100, 0x1)), 0u);

    struct group_mask_block {
        std::uint32_t information_class = 1;
        std::uint32_t padding = 0;
        TRACEHANDLE handle = 0;
        std::uint32_t masks[8] = {};
    } block;
    static_assert(sizeof block == 48);
    block.handle = kernel.controller;
    std::uint32_t returned = 0;
    ASSERT_EQ(tracing.nt_query_system_information(31, &block, 48, &returned), 0u);
    EXPECT_EQ(returned, 48u);
    EXPECT_EQ(block.masks[0], 0x1u); // the EnableFlags

    block.masks[0] = 0;
    block.masks[7] = 0x1;
    ASSERT_EQ(tracing.nt_set_system_information(31, &block, 48), 0u);
    ASSERT_TRUE(kernel.open());
    kernel.process();
    ASSERT_TRUE(tracing.wait_for_processing(1, {}));
    built_record record = process_record(1);
    EXPECT_EQ(tracing.deliver(record, patience, {}).consumers, 0u); // the process flag is off now

    block.handle = sdk::invalid_processtrace_handle; // as after attaching to a leftover session
    EXPECT_EQ(tracing.nt_query_system_information(31, &block, 48, nullptr), 0xC0000295u);
    EXPECT_EQ(tracing.nt_query_system_information(30, &block, 48, nullptr), 0xC0000003u);
}

TEST(SimulatedTracing, ProcessTraceDeliversOnItsOwnThreadUntilTheSessionStops) {
    simulated_tracing tracing(machine_config{});
    trace_consumer file(tracing, u"File");
    ASSERT_EQ(file.start(), 0u);
    ASSERT_EQ(file.enable(kernel_file_provider, 5, 0, 0), 0u);
    EXPECT_EQ(tracing.open_trace(nullptr), sdk::invalid_processtrace_handle);
    trace_consumer unknown(tracing, u"Unknown");
    EXPECT_FALSE(unknown.open());

    std::optional<std::uint32_t> schema_status;
    std::uint32_t schema_size = 0;
    std::uint32_t share_access_size = 0;
    file.on_record = [&](const EVENT_RECORD& record) {
        schema_status = tracing.tdh_get_event_information(&record, 0, nullptr, nullptr, &schema_size);
        static constexpr char16_t share_access[] = u"ShareAccess";
        PROPERTY_DATA_DESCRIPTOR descriptor{};
        descriptor.PropertyName = reinterpret_cast<std::uintptr_t>(share_access);
        descriptor.ArrayIndex = 0xFFFFFFFF;
        tracing.tdh_get_property_size(&record, 0, nullptr, 1, &descriptor, &share_access_size);
    };
    ASSERT_TRUE(file.open());
    file.process();
    ASSERT_TRUE(tracing.wait_for_processing(1, {}));
    built_record record = file_record(12, 0xA0);
    EXPECT_EQ(tracing.deliver(record, patience, {}).consumers, 1u);
    EXPECT_EQ(schema_status, 122u);
    EXPECT_EQ(schema_size, record.event_info().size());
    EXPECT_EQ(share_access_size, 4u);

    file_event unknown_event;
    unknown_event.id = 26;
    record_description unknown_schema = describe_file_event(unknown_event);
    unknown_schema.schema_known = false;
    unknown_schema.header.level = 3; // a kind of its own
    built_record unknown_record = build_record(unknown_schema);
    EXPECT_EQ(tracing.deliver(unknown_record, patience, {}).consumers, 1u);
    EXPECT_EQ(schema_status, 1168u);

    EXPECT_FALSE(file.wait_for_return(0s)); // still processing
    EXPECT_EQ(file.stop(), 0u);
    EXPECT_EQ(file.wait_for_return(), 0u);
    const auto records = file.records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].user_context, &file);
    EXPECT_NE(records[0].thread, std::this_thread::get_id());
    EXPECT_EQ(tracing.close_trace(file.consumer), 0u);
    EXPECT_EQ(tracing.close_trace(file.consumer), 6u);
}

// Real-time delivery: the player never waits; what finds no buffer is counted,
// and every record is either read by the consumer or counted as lost.
TEST(SimulatedTracing, RealTimeDeliveryCountsEveryRecordItCannotBuffer) {
    struct row {
        const char* what;
        std::uint32_t buffer_size_kb, minimum, maximum;
        bool consumer_open;
        std::uint32_t expected_buffer_kb, expected_minimum, expected_maximum;
    };
    const row rows[] = {
        {"Windows' choices for zeros", 0, 0, 0, true, 64, 2, 22},
        {"two small buffers, the rest lost", 4, 2, 2, true, 4, 2, 2},
        {"a maximum below the minimum is raised", 4, 3, 1, true, 4, 3, 3},
        {"too small a buffer is raised to 4 KB", 1, 2, 2, true, 4, 2, 2},
        {"no consumer: buffers lost in transit", 4, 2, 2, false, 4, 2, 2},
    };
    constexpr std::uint32_t produced = 200;
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        machine_config machine;
        machine.delivery = delivery_mode::real_time;
        machine.processors = 1;
        simulated_tracing tracing(machine);
        trace_consumer file(tracing, u"File");
        testing::properties_block block = make_properties(sdk::event_trace_real_time_mode);
        block.properties.BufferSize = r.buffer_size_kb;
        block.properties.MinimumBuffers = r.minimum;
        block.properties.MaximumBuffers = r.maximum;
        block.properties.FlushTimer = 1;
        ASSERT_EQ(file.start(block), 0u);
        ASSERT_EQ(file.enable(kernel_file_provider, 5, 0, 0), 0u);
        if (r.consumer_open) {
            ASSERT_TRUE(file.open()); // open, not yet reading: buffers wait for it
        }

        built_record record = file_record(12, 0xA0);
        tracing.describe(record);
        for (std::uint32_t i = 0; i < produced; ++i)
            EXPECT_EQ(tracing.deliver(record, patience, {}).consumers, 1u);
        tracing.flush_buffers();

        testing::properties_block query = make_properties();
        ASSERT_EQ(tracing.control_trace(0, u"File", &query.properties, sdk::event_trace_control_query), 0u);
        const EVENT_TRACE_PROPERTIES& seen = query.properties;
        EXPECT_EQ(seen.BufferSize, r.expected_buffer_kb);
        EXPECT_EQ(seen.MinimumBuffers, r.expected_minimum);
        EXPECT_EQ(seen.MaximumBuffers, r.expected_maximum);
        EXPECT_EQ(seen.FlushTimer, 1u);
        EXPECT_EQ(seen.LogFileMode, sdk::event_trace_real_time_mode);
        EXPECT_LE(seen.NumberOfBuffers, r.expected_maximum);

        if (r.consumer_open) {
            file.process();
            EXPECT_EQ(seen.RealTimeBuffersLost, 0u);
        } else {
            EXPECT_GT(seen.RealTimeBuffersLost, 0u);
            EXPECT_EQ(seen.EventsLost, 0u); // the buffers came back unread
        }
        testing::properties_block final_block = make_properties();
        ASSERT_EQ(tracing.control_trace(0, u"File", &final_block.properties, sdk::event_trace_control_stop),
                  0u);
        if (r.consumer_open) {
            EXPECT_EQ(file.wait_for_return(), 0u);
            // A close while reading still reads what was handed over.
            EXPECT_EQ(file.records().size() + final_block.properties.EventsLost, produced);
            EXPECT_EQ(final_block.properties.EventsLost, seen.EventsLost);
            EXPECT_EQ(r.expected_maximum == 22 ? 0u : 1u, seen.EventsLost > 0 ? 1u : 0u);
        }
        testing::properties_block gone = make_properties();
        EXPECT_EQ(tracing.control_trace(0, u"File", &gone.properties, sdk::event_trace_control_query), 4201u);
        tracing.forget(record);
    }
}

// A stop flushes the session's last, partly filled buffer to its consumers:
// a ProcessTrace that runs after the stop still reads it; a consumer closed
// before its ProcessTrace took it never sees it.
TEST(SimulatedTracing, AStoppedSessionsLastBufferReachesOnlyAConsumerStillOpen) {
    for (const bool closed_first : {false, true}) {
        SCOPED_TRACE(closed_first);
        machine_config machine;
        machine.delivery = delivery_mode::real_time;
        simulated_tracing tracing(machine);
        trace_consumer file(tracing, u"File");
        ASSERT_EQ(file.start(make_properties(sdk::event_trace_real_time_mode)), 0u);
        ASSERT_EQ(file.enable(kernel_file_provider, 5, 0, 0), 0u);
        ASSERT_TRUE(file.open());
        built_record record = file_record(12, 0xA0);
        tracing.describe(record);
        for (int i = 0; i < 3; ++i)
            tracing.deliver(record, patience, {});
        ASSERT_EQ(file.stop(), 0u);
        if (closed_first) {
            EXPECT_EQ(tracing.close_trace(file.consumer), 0u);
        }
        file.process();
        file.wait_for_return();
        EXPECT_EQ(file.records().size(), closed_first ? 0u : 3u);
        if (!closed_first) {
            EXPECT_EQ(tracing.close_trace(file.consumer), 0u);
        }
    }
}

TEST(SimulatedTracing, CloseTraceAnswers7007WhileDeliveryIsUnderWay) {
    simulated_tracing tracing(machine_config{});
    trace_consumer file(tracing, u"File");
    ASSERT_EQ(file.start(), 0u);
    ASSERT_EQ(file.enable(kernel_file_provider, 5, 0, 0), 0u);
    testing::gate in_callback;
    testing::gate closed;
    file.on_record = [&](const EVENT_RECORD&) {
        in_callback.open();
        closed.wait();
    };
    ASSERT_TRUE(file.open());
    file.process();
    ASSERT_TRUE(tracing.wait_for_processing(1, {}));
    std::thread player([&] {
        built_record record = file_record(12, 0xA0);
        tracing.deliver(record, patience, {});
    });
    in_callback.wait();
    EXPECT_EQ(tracing.close_trace(file.consumer), 7007u);
    closed.open();
    EXPECT_EQ(file.wait_for_return(), 0u); // ends without the session being stopped
    player.join();
    EXPECT_EQ(tracing.processing_count(), 0u);
}

TEST(SimulatedTracing, AnExceptionFromACallbackLeavesProcessTrace) {
    simulated_tracing tracing(machine_config{});
    trace_consumer file(tracing, u"File");
    ASSERT_EQ(file.start(), 0u);
    ASSERT_EQ(file.enable(kernel_file_provider, 5, 0, 0), 0u);
    file.on_record = [](const EVENT_RECORD&) { throw std::runtime_error("bad record"); };
    ASSERT_TRUE(file.open());
    std::string caught;
    std::thread processing([&] {
        try {
            tracing.process_trace(&file.consumer, 1, nullptr, nullptr);
        } catch (const std::runtime_error& error) {
            caught = error.what();
        }
    });
    ASSERT_TRUE(tracing.wait_for_processing(1, {}));
    built_record record = file_record(12, 0xA0);
    EXPECT_EQ(tracing.deliver(record, patience, {}).consumers, 1u);
    processing.join();
    EXPECT_EQ(caught, "bad record");
    EXPECT_EQ(tracing.processing_count(), 0u);
    EXPECT_EQ(file.stop(), 0u);
}

TEST(SimulatedTracing, VersionTestComparesMajorMinorAndServicePackTogether) {
    struct version_case {
        std::uint32_t major, minor;
        bool windows8_or_greater;
    };
    const version_case cases[] = {{6, 1, false}, {6, 2, true}, {6, 3, true}, {10, 0, true}, {5, 2, false}};
    for (const version_case& item : cases) {
        machine_config machine;
        machine.major_version = item.major;
        machine.minor_version = item.minor;
        simulated_tracing tracing(machine);
        OSVERSIONINFOEXW info{};
        info.dwOSVersionInfoSize = sizeof info;
        info.dwMajorVersion = 6;
        info.dwMinorVersion = 2;
        std::uint64_t mask = tracing.ver_set_condition_mask(0, 0x2, 3);
        mask = tracing.ver_set_condition_mask(mask, 0x1, 3);
        mask = tracing.ver_set_condition_mask(mask, 0x20, 3);
        EXPECT_EQ(mask, (3u << 3) | 3u | (3u << 15));
        EXPECT_EQ(tracing.verify_version_info(&info, 0x23, mask) != 0, item.windows8_or_greater)
            << item.major << "." << item.minor;
    }
}

} // namespace
} // namespace tallowick::platform::simulated
