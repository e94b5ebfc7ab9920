#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <queue>
#include <thread>
#include <tuple>
#include <utility>

namespace tallowick {

// A fixed set of workers taking tasks from one unbounded FIFO queue. Destruction
// first runs every task still queued, then stops and joins the workers.
class thread_pool {
public:
    // 0 workers means the hardware concurrency, or 1 when that is unknown.
    explicit thread_pool(std::uint32_t requested_workers);
    // The same with the hardware concurrency given, for machines we cannot be on.
    thread_pool(std::uint32_t requested_workers, unsigned hardware_concurrency);
    ~thread_pool();

    thread_pool(const thread_pool&) = delete;
    thread_pool& operator=(const thread_pool&) = delete;

    // Queues `callable(args...)`. Arguments are copied into the task, except
    // those wrapped in std::reference_wrapper, which stay references.
    template <typename Callable, typename... Args> void enqueue_task(Callable&& callable, Args&&... args) {
        {
            std::lock_guard lock(queue_mutex);
            task_queue.emplace([fn = std::decay_t<Callable>(std::forward<Callable>(callable)),
                                bound = std::tuple<std::decay_t<Args>...>(std::forward<Args>(args)...)]() mutable {
                std::apply(fn, bound);
            });
        }
        // Woken after the unlock, so the worker does not wake into a held lock.
        task_ready.notify_one();
    }

    std::uint32_t size() const { return worker_count; }

    static std::uint32_t effective_worker_count(std::uint32_t requested, unsigned hardware_concurrency);

private:
    void worker_loop();
    void stop_and_join(std::uint32_t started);

    std::condition_variable task_ready;
    std::condition_variable all_done;
    std::queue<std::function<void()>> task_queue;
    std::size_t in_flight = 0;
    std::mutex queue_mutex;
    std::uint32_t worker_count;
    std::unique_ptr<std::thread[]> workers;
    bool waiting_for_idle = false;
    bool alive = false;
};

} // namespace tallowick
