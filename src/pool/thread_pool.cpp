#include "pool/thread_pool.h"

#include "console/console.h"

#include <exception>
#include <string>

namespace tallowick {
namespace {
// The pool whose worker runs on this thread, if any: its tasks never wait for room.
thread_local const thread_pool* worker_of = nullptr;
} // namespace

std::uint32_t thread_pool::effective_worker_count(std::uint32_t requested, unsigned hardware_concurrency) {
    if (requested > 0)
        return requested;
    return hardware_concurrency > 0 ? hardware_concurrency : 1;
}

thread_pool::thread_pool(std::uint32_t requested_workers)
    : thread_pool(requested_workers, std::thread::hardware_concurrency()) {}

thread_pool::thread_pool(std::uint32_t requested_workers, unsigned hardware_concurrency, std::size_t capacity)
    : queue_capacity(capacity > 0 ? capacity : 1), worker_count(effective_worker_count(requested_workers, hardware_concurrency)),
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

void thread_pool::wait_for_room(std::unique_lock<std::mutex>& lock) {
    if (task_queue.size() < queue_capacity || worker_of == this)
        return;
    ++room_waits;
    ++waiting_for_room;
    room_ready.wait(lock, [this] { return task_queue.size() < queue_capacity; });
    --waiting_for_room;
}

std::uint64_t thread_pool::waits_for_room() const {
    std::lock_guard lock(queue_mutex);
    return room_waits;
}

void thread_pool::worker_loop() {
    worker_of = this;
    std::unique_lock lock(queue_mutex);
    for (;;) {
        task_ready.wait(lock, [this] { return !task_queue.empty() || !alive; });
        if (!alive)
            return;
        std::function<void()> task = std::move(task_queue.front());
        task_queue.pop();
        ++in_flight;
        const bool someone_waits = waiting_for_room > 0;
        lock.unlock();
        if (someone_waits)
            room_ready.notify_one();
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
