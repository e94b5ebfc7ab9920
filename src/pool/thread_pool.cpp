#include "pool/thread_pool.h"

#include "output/console.h"

#include <exception>
#include <string>

namespace tallowick {

std::uint32_t thread_pool::effective_worker_count(std::uint32_t requested, unsigned hardware_concurrency) {
    if (requested > 0)
        return requested;
    return hardware_concurrency > 0 ? hardware_concurrency : 1;
}

thread_pool::thread_pool(std::uint32_t requested_workers)
    : thread_pool(requested_workers, std::thread::hardware_concurrency()) {}

thread_pool::thread_pool(std::uint32_t requested_workers, unsigned hardware_concurrency)
    : worker_count(effective_worker_count(requested_workers, hardware_concurrency)),
      workers(std::make_unique<std::thread[]>(worker_count)) {
    {
        std::lock_guard lock(queue_mutex);
        alive = true;
    }
    for (std::uint32_t i = 0; i < worker_count; ++i) {
        try {
            workers[i] = std::thread(&thread_pool::worker_loop, this);
        } catch (...) {
            // The destructor will not run: stop the workers that did start.
            stop_and_join(i);
            throw;
        }
    }
}

thread_pool::~thread_pool() {
    {
        std::unique_lock lock(queue_mutex);
        waiting_for_idle = true;
        all_done.wait(lock, [this] { return in_flight == 0 && task_queue.empty(); });
        waiting_for_idle = false;
    }
    stop_and_join(worker_count);
}

void thread_pool::stop_and_join(std::uint32_t started) {
    {
        std::lock_guard lock(queue_mutex);
        alive = false;
    }
    task_ready.notify_all();
    for (std::uint32_t i = 0; i < started; ++i)
        workers[i].join();
}

void thread_pool::worker_loop() {
    std::unique_lock lock(queue_mutex);
    for (;;) {
        task_ready.wait(lock, [this] { return !task_queue.empty() || !alive; });
        if (!alive)
            return;
        std::function<void()> task = std::move(task_queue.front());
        task_queue.pop();
        ++in_flight;
        lock.unlock();
        // One event's failure must end neither the program nor this worker.
        try {
            task();
        } catch (const std::exception& error) {
            write_line(std::string("WORKER TASK CAUGHT ERROR: ") + error.what(), true);
        } catch (...) {
            write_line("WORKER TASK CAUGHT ERROR: unknown exception", true);
        }
        task = nullptr; // the task's captures die outside the lock, before it counts as done
        lock.lock();
        --in_flight;
        if (waiting_for_idle && in_flight == 0 && task_queue.empty())
            all_done.notify_all();
    }
}

} // namespace tallowick
