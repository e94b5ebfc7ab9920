#pragma once

#include <chrono>
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

namespace tallowick::pool {

// A fixed set of workers taking tasks from one bounded FIFO queue. A full queue
// makes the thread that queues wait for room, so that a burst builds up where it
// is counted (a trace session's buffers), never in unbounded memory; a worker
// queuing a task of its own never waits. Destruction first runs every task
// still queued, then stops and joins the workers.
class thread_pool {
  public:
    // Tasks that may wait in the queue: a file task holds about 250 bytes, so a
    // full queue holds about 1 MiB.
    static constexpr std::size_t default_capacity = 4096;

    // 0 workers means the hardware concurrency, or 1 when that is unknown.
    explicit thread_pool(std::uint32_t requested_workers);
    // The same with the hardware concurrency given, for machines we cannot be on.
    thread_pool(std::uint32_t requested_workers, unsigned hardware_concurrency,
                std::size_t capacity = default_capacity);
    ~thread_pool();

    thread_pool(const thread_pool&) = delete;
    thread_pool& operator=(const thread_pool&) = delete;

    // Queues `callable(args...)`. Arguments are copied into the task, except
    // those wrapped in std::reference_wrapper, which stay references.
    template <typename Callable, typename... Args> void enqueue_task(Callable&& callable, Args&&... args) {
        {
            std::unique_lock lock(queue_mutex_);
            wait_for_room(lock);
            task_queue_.emplace([fn = std::decay_t<Callable>(std::forward<Callable>(callable)),
                                 bound = std::tuple<std::decay_t<Args>...>(
                                     std::forward<Args>(args)...)]() mutable { std::apply(fn, bound); });
        }
        // Woken after the unlock, so the worker does not wake into a held lock.
        task_ready_.notify_one();
    }

    // Waits until every queued task has run, or until `deadline`: then the
    // tasks still queued are dropped, unrun, and counted (tasks under way
    // finish). Returns how many were dropped.
    std::size_t drain_until(std::chrono::steady_clock::time_point deadline);

    std::uint32_t size() const { return worker_count_; }
    std::size_t capacity() const { return queue_capacity_; }
    // Times a queuing thread found the queue full and waited.
    std::uint64_t waits_for_room() const;

    static std::uint32_t effective_worker_count(std::uint32_t requested, unsigned hardware_concurrency);

  private:
    void worker_loop();
    void wait_for_room(std::unique_lock<std::mutex>& lock);
    void stop_and_join(std::uint32_t started);

    std::condition_variable task_ready_;
    std::condition_variable all_done_;
    std::condition_variable room_ready_;
    std::size_t queue_capacity_;
    std::size_t waiting_for_room_ = 0;
    std::uint64_t room_waits_ = 0;
    std::queue<std::function<void()>> task_queue_;
    std::size_t in_flight_ = 0;
    mutable std::mutex queue_mutex_;
    std::uint32_t worker_count_;
    std::unique_ptr<std::thread[]> workers_;
    bool waiting_for_idle_ = false;
    bool alive_ = false;
};

} // namespace tallowick::pool
