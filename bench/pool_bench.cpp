// Tasks per second through enqueue_task and one worker.
#include "pool/thread_pool.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <string>

namespace {

constexpr int batch = 10000;

// Queue a batch and wait for the worker to have run it all, so that the time
// covers queueing, waking, taking and running.
template <typename Enqueue> void run_batches(benchmark::State& state, Enqueue enqueue) {
    tallowick::pool::thread_pool pool(1);
    std::atomic<int> done{0};
    for (auto _ : state) {
        done.store(0, std::memory_order_relaxed);
        for (int i = 0; i < batch; ++i)
            enqueue(pool, done);
        while (done.load(std::memory_order_acquire) != batch) {
        }
    }
    state.SetItemsProcessed(state.iterations() * batch);
}

void empty_task(benchmark::State& state) {
    run_batches(state, [](tallowick::pool::thread_pool& pool, std::atomic<int>& done) {
        pool.enqueue_task([&done] { done.fetch_add(1, std::memory_order_release); });
    });
}

// The shape of a file event: two strings and two numbers copied into the task.
void file_event_shaped_task(benchmark::State& state) {
    const std::string name = "\\Device\\HarddiskVolume3\\Users\\alice\\Documents\\quarterly report.docx";
    const std::string label = "READ + WRITE";
    run_batches(state, [&](tallowick::pool::thread_pool& pool, std::atomic<int>& done) {
        pool.enqueue_task(
            [&done](int id, unsigned pid, const std::string& file, const std::string& operation) {
                benchmark::DoNotOptimize(id + pid + file.size() + operation.size());
                done.fetch_add(1, std::memory_order_release);
            },
            12, 4242u, name, label);
    });
}

} // namespace

BENCHMARK(empty_task)->Unit(benchmark::kMillisecond)->Repetitions(10)->ReportAggregatesOnly(true);
BENCHMARK(file_event_shaped_task)->Unit(benchmark::kMillisecond)->Repetitions(10)->ReportAggregatesOnly(true);

BENCHMARK_MAIN();
