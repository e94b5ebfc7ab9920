// The process tracker's cost on the session threads, with 10,000 processes
// alive and its full count of ended lives kept: a look-up by process id and
// time (what each file record pays), a start and an end (what each process
// record pays on top of learning the process), and, beside them, learning a
// process live from the simulated machine and the whole naming of a file
// record. The look-up is also measured with readers on several threads at once,
// and a record that waits for the kernel session: parked, then decided on the
// waiting thread once the kernel session has delivered past it.
#include "monitor/pending_attribution.h"
#include "monitor/process_attribution.h"
#include "monitor/process_tracker.h"
#include "platform/simulated/simulated_system.h"

#include <benchmark/benchmark.h>
#include <limits>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using tallowick::monitor::process_tracker;
using tallowick::monitor::record_time;
namespace simulated = tallowick::platform::simulated;

constexpr int live_processes = 10'000;
constexpr std::uint32_t first_pid = 1000;
const std::string alice_sid = "S-1-5-21-7-8-9-1001";

std::uint32_t pid_of(int index) {
    return first_pid + 4 * static_cast<std::uint32_t>(index);
}

std::string image_of(int index) {
    return "C:\\Program Files\\Vendor " + std::to_string(index % 97) + "\\bin\\tool" + std::to_string(index) +
           ".exe";
}

// 10,000 processes alive, each id also with ended lives of earlier programs,
// up to the tracker's count of ended lives.
process_tracker& populated() {
    static process_tracker tracker;
    static const bool filled = [] {
        record_time now = 1;
        const std::size_t ended = process_tracker::limits{}.max_ended;
        for (std::size_t i = 0; i < ended; ++i) {
            const std::uint32_t pid = pid_of(static_cast<int>(i % live_processes));
            tracker.started(pid, now++, {"C:\\Temp\\earlier.exe", "alice"});
            tracker.ended(pid, now++);
        }
        for (int i = 0; i < live_processes; ++i)
            tracker.started(pid_of(i), now++, {image_of(i), "alice"});
        return true;
    }();
    benchmark::DoNotOptimize(filled);
    return tracker;
}

// Process ids in a random order, so the look-ups do not walk memory in order.
std::vector<std::uint32_t> shuffled_pids() {
    std::vector<std::uint32_t> pids;
    for (int i = 0; i < live_processes; ++i)
        pids.push_back(pid_of(i));
    std::shuffle(pids.begin(), pids.end(), std::mt19937(42));
    return pids;
}

void lookup_at_file_record(benchmark::State& state) {
    const process_tracker& tracker = populated();
    static const std::vector<std::uint32_t> pids = shuffled_pids();
    std::size_t next = static_cast<std::size_t>(state.thread_index()) * 997;
    for (auto _ : state) {
        const auto found = tracker.find(pids[next++ % pids.size()], 1'000'000'000);
        benchmark::DoNotOptimize(found.facts.get());
    }
    if (tracker.find(pids.front(), 1'000'000'000).answer != process_tracker::verdict::covered)
        throw std::logic_error("a live process was not found");
    state.SetItemsProcessed(state.iterations());
}

// A start and its end, each a process record; the facts are already learnt.
void start_and_end(benchmark::State& state) {
    process_tracker& tracker = populated();
    // Later with every run: a repetition does not go back in time.
    static record_time now = 2'000'000'000;
    const std::uint32_t pid = pid_of(live_processes) + 8;
    const std::string image = image_of(live_processes);
    for (auto _ : state) {
        tracker.started(pid, now++, {image, "alice"});
        tracker.ended(pid, now++);
    }
    state.SetItemsProcessed(2 * state.iterations());
    state.counters["ended_lives"] = static_cast<double>(tracker.ended_lives());
    state.counters["open_lives"] = static_cast<double>(tracker.open_lives());
}

simulated::machine_inventory one_process_machine() {
    simulated::machine_inventory model;
    model.processes = {{pid_of(live_processes) + 8,
                        "\\Device\\HarddiskVolume3\\Program Files\\Vendor\\bin\\tool.exe", alice_sid,
                        simulated::process_access::full}};
    model.accounts.push_back({alice_sid, "alice", "HOST"});
    return model;
}

// What a start record adds on the kernel session's thread: its image and owner
// looked up on the simulated machine (on Windows, the platform calls' own cost).
void learn_at_process_record(benchmark::State& state) {
    simulated::simulated_system system(one_process_machine());
    const tallowick::platform::scoped_system installed(system);
    const std::uint32_t pid = pid_of(live_processes) + 8;
    for (auto _ : state)
        benchmark::DoNotOptimize(tallowick::monitor::learn_process_facts(
            pid, std::numeric_limits<tallowick::monitor::record_time>::max(), "tool.exe", alice_sid));
    state.SetItemsProcessed(state.iterations());
}

// The file callback's whole naming of a record of a known process.
void name_file_record(benchmark::State& state) {
    process_tracker& tracker = populated();
    static const std::vector<std::uint32_t> pids = shuffled_pids();
    std::size_t next = 0;
    for (auto _ : state) {
        auto origin =
            tallowick::monitor::attribute_file_record(tracker, pids[next++ % pids.size()], 1'000'000'000);
        benchmark::DoNotOptimize(origin.facts.get());
    }
    state.SetItemsProcessed(state.iterations());
}

// A record of a process whose end may still be on its way: parked, decided
// by the waiting thread after the kernel session's progress, its task resumed.
void park_until_kernel_progress(benchmark::State& state) {
    simulated::simulated_system system;
    const tallowick::platform::scoped_system installed(system);
    process_tracker tracker;
    tracker.started(4242, 100, {"C:\\Tools\\tool.exe", "alice"});
    tallowick::monitor::pending_attribution pending(tracker, {});
    constexpr int batch = 1000;
    std::atomic<int> resumed{0};
    record_time when = 1000;
    for (auto _ : state) {
        resumed.store(0);
        for (int i = 0; i < batch; ++i)
            pending.attribute(4242, ++when, [&](tallowick::monitor::event_origin origin) {
                benchmark::DoNotOptimize(origin.facts.get());
                resumed.fetch_add(1);
            });
        pending.kernel_progressed(when);
        while (resumed.load() < batch)
            std::this_thread::yield();
    }
    state.SetItemsProcessed(state.iterations() * batch);
}

} // namespace

BENCHMARK(lookup_at_file_record);
BENCHMARK(lookup_at_file_record)->Threads(2)->UseRealTime();
BENCHMARK(lookup_at_file_record)->Threads(4)->UseRealTime();
BENCHMARK(name_file_record);
BENCHMARK(start_and_end);
BENCHMARK(learn_at_process_record);
BENCHMARK(park_until_kernel_progress)->UseRealTime();

BENCHMARK_MAIN();
