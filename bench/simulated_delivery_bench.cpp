// Records per second through the simulated machine's delivery: the player's
// hand-over to the consumers' ProcessTrace threads and back, with callbacks that
// do nothing. This is what the simulated machine adds to every record the agent
// processes.
#include "platform/simulated/simulated_tracing.h"
#include "platform/trace_consumer.h"
#include "platform/windows_facts.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace tallowick::platform::simulated;
using tallowick::platform::kernel_file_provider;
using tallowick::testing::trace_consumer;

void deliver_to_sessions(benchmark::State& state) {
    const auto session_count = static_cast<std::size_t>(state.range(0));
    simulated_tracing tracing(machine_config{});
    std::vector<std::unique_ptr<trace_consumer>> sessions;
    for (std::size_t i = 0; i < session_count; ++i) {
        auto session = std::make_unique<trace_consumer>(tracing, u"Session" + std::u16string(1, u'A' + i));
        session->on_record = [](const EVENT_RECORD&) {};
        if (session->start() != 0 || session->enable(kernel_file_provider, 5, 0, 0) != 0 ||
            !session->open()) {
            state.SkipWithError("session set-up failed");
            return;
        }
        session->process();
        sessions.push_back(std::move(session));
    }
    tracing.wait_for_processing(session_count, {});

    file_event open;
    open.process_id = 4242;
    open.name = u"\\Device\\HarddiskVolume3\\Users\\alice\\Documents\\Quarterly Report.docx";
    open.share_access = 3;
    built_record record = build_record(describe_file_event(open));
    for (auto _ : state)
        benchmark::DoNotOptimize(tracing.deliver(record, std::chrono::seconds(10), {}).consumers);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(deliver_to_sessions)->Arg(1)->Arg(2)->UseRealTime();

// Real-time delivery: the player writes into one session's buffers without
// waiting, while the consumer reads whole buffers on its own thread. Records
// that find every buffer full are lost and counted, as on Windows.
void write_into_session_buffers(benchmark::State& state) {
    machine_config machine;
    machine.delivery = delivery_mode::real_time;
    simulated_tracing tracing(machine);
    trace_consumer session(tracing, u"Session");
    session.on_record = [](const EVENT_RECORD&) {};
    tallowick::testing::properties_block block = tallowick::testing::make_properties(0x100);
    block.properties.BufferSize = 64;
    block.properties.MinimumBuffers = 16;
    block.properties.MaximumBuffers = 256;
    if (session.start(block) != 0 || session.enable(kernel_file_provider, 5, 0, 0) != 0 || !session.open()) {
        state.SkipWithError("session set-up failed");
        return;
    }
    session.process();
    tracing.wait_for_processing(1, {});

    file_event open;
    open.process_id = 4242;
    open.name = u"\\Device\\HarddiskVolume3\\Users\\alice\\Documents\\Quarterly Report.docx";
    open.share_access = 3;
    built_record record = build_record(describe_file_event(open));
    tracing.describe(record);
    for (auto _ : state)
        benchmark::DoNotOptimize(tracing.deliver(record, std::chrono::seconds(10), {}).consumers);
    tracing.flush_buffers();
    tallowick::testing::properties_block query = tallowick::testing::make_properties();
    tracing.control_trace(0, u"Session", &query.properties, 0);
    state.SetItemsProcessed(state.iterations());
    state.counters["lost"] = query.properties.EventsLost;
    // What went into the buffers rather than lost, per second.
    state.counters["written"] = benchmark::Counter(
        static_cast<double>(state.iterations()) - query.properties.EventsLost, benchmark::Counter::kIsRate);
    session.stop();
    session.join();
    tracing.forget(record);
}
BENCHMARK(write_into_session_buffers)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
