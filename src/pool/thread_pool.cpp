#include "pool/thread_pool.h"

#include "console/console.h"

#include <exception>
#include <string>

namespace tallowick::pool {
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
    : queue_capacity_(capacity > 0 ? capacity : 1),
      worker_count_(effective_worker_count(requested_workers, hardware_concurrency)),
      workers_(std::make_unique<std::thread[]>(worker_count_)) {
    {
        std::lock_guard lock(queue_mutex_);
        alive_ = true;
    }
    for (std::uint32_t i = 0; i < worker_count_; ++i) {
        try {
            workers_[i] = std::thread(&thread_pool::worker_loop, this);
        } catch (...) {
            // The destructor will not run: stop the workers that did start.
            stop_and_join(i);
            throw;
        }
    }
}

thread_pool::~thread_pool() {
    {
        std::unique_lock lock(queue_mutex_);
        waiting_for_idle_ = true;
        all_done_.wait(lock, [this] { return in_flight_ == 0 && task_queue_.empty(); });
        waiting_for_idle_ = false;
    }
    stop_and_join(worker_count_);
}

std::size_t thread_pool::drain_until(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock lock(queue_mutex_);
    waiting_for_idle_ = true;
    const bool drained =
        all_done_.wait_until(lock, deadline, [this] { return in_flight_ == 0 && task_queue_.empty(); });
    waiting_for_idle_ = false;
    if (drained)
        return 0;
    std::queue<std::function<void()>> dropped;
    dropped.swap(task_queue_);
    const std::size_t count = dropped.size();
    const bool someone_waits = waiting_for_room_ > 0;
    lock.unlock();
    if (someone_waits)
        room_ready_.notify_all();
    return count; // the dropped tasks' captures die here, outside the lock
}

void thread_pool::stop_and_join(std::uint32_t started) {
    {
        std::lock_guard lock(queue_mutex_);
        alive_ = false;
    }
    task_ready_.notify_all();
    for (std::uint32_t i = 0; i < started; ++i)
        workers_[i].join();
}

void thread_pool::wait_for_room(std::unique_lock<std::mutex>& lock) {
    if (task_queue_.size() < queue_capacity_ || worker_of == this)
        return;
    ++room_waits_;
    ++waiting_for_room_;
    room_ready_.wait(lock, [this] { return task_queue_.size() < queue_capacity_; });
    --waiting_for_room_;
}

std::uint64_t thread_pool::waits_for_room() const {
    std::lock_guard lock(queue_mutex_);
    return room_waits_;
}

void thread_pool::worker_loop() {
    worker_of = this;
    std::unique_lock lock(queue_mutex_);
    for (;;) {
        task_ready_.wait(lock, [this] { return !task_queue_.empty() || !alive_; });
        if (!alive_)
            return;
        std::function<void()> task = std::move(task_queue_.front());
        task_queue_.pop();
        ++in_flight_;
        const bool someone_waits = waiting_for_room_ > 0;
        lock.unlock();
        if (someone_waits)
            room_ready_.notify_one();
        // One event's failure must end neither the program nor this worker.
        try {
            task();
        } catch (const std::exception& error) {
            console::write_line(std::string("WORKER TASK CAUGHT ERROR: ") + error.what(), true);
        } catch (...) {
            console::write_line("WORKER TASK CAUGHT ERROR: unknown exception", true);
        }
        task = nullptr; // the task's captures die outside the lock, before it counts as done
        lock.lock();
        --in_flight_;
        if (waiting_for_idle_ && in_flight_ == 0 && task_queue_.empty())
            all_done_.notify_all();
    }
}

} // namespace tallowick::pool
