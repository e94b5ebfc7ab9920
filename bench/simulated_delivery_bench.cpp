// Records per second through the simulated machine's delivery: the player's
// hand-over to the consumers' ProcessTrace threads and back, with callbacks that
// do nothing. This is what the simulated machine adds to every record the agent
// processes.
#include "platform/simulated/simulated_tracing.h"
#include "platform/trace_consumer.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace tallowick::platform::simulated;
using tallowick::testing::trace_consumer;

void deliver_to_sessions(benchmark::State& state) {
    const auto session_count = static_cast<std::size_t>(state.range(0));
    simulated_tracing tracing(machine_description{});
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

} // namespace

BENCHMARK_MAIN();
