#include "app/interrupt.h"

#include <csignal>

#ifdef _WIN32
#include <condition_variable>
#include <io.h>
#include <mutex>
#else
#include <cerrno>
#include <ctime>
#include <semaphore.h>
#include <unistd.h>
#endif

namespace tallowick {

std::atomic<bool> stop_requested{false};

namespace {
static_assert(std::atomic<bool>::is_always_lock_free, "the handler may only touch lock-free atomics");

#ifdef _WIN32
// The runtime calls the SIGINT handler on a thread of its own, where a lock is allowed.
struct wake_up_event {
    std::mutex mutex;
    std::condition_variable woken;
    bool pending = false;
};
wake_up_event& main_thread_event() {
    static wake_up_event event;
    return event;
}
#else
// A signal handler may post a semaphore and do little else.
sem_t& main_thread_semaphore() {
    static sem_t semaphore;
    static const bool ready = sem_init(&semaphore, 0, 0) == 0;
    (void)ready;
    return semaphore;
}
#endif

extern "C" void on_interrupt(int) {
    static constexpr char line[] = "Caught interrupt signal...\n";
    // write(2) rather than the stream: a worker may hold the stream's lock.
#ifdef _WIN32
    (void)_write(1, line, sizeof line - 1);
    std::signal(SIGINT, on_interrupt); // the runtime resets the handler before calling it
#else
    (void)!write(1, line, sizeof line - 1);
#endif
    stop_requested.store(true);
    wake_main_thread();
}
} // namespace

void install_interrupt_handler() {
#ifndef _WIN32
    main_thread_semaphore(); // made before the handler can post it
#endif
    std::signal(SIGINT, on_interrupt);
}

void wake_main_thread() noexcept {
#ifdef _WIN32
    wake_up_event& event = main_thread_event();
    {
        const std::lock_guard lock(event.mutex);
        event.pending = true;
    }
    event.woken.notify_all();
#else
    sem_post(&main_thread_semaphore());
#endif
}

bool wait_for_wake_up(std::chrono::milliseconds timeout) {
#ifdef _WIN32
    wake_up_event& event = main_thread_event();
    std::unique_lock lock(event.mutex);
    event.woken.wait_for(lock, timeout, [&] { return event.pending; });
    event.pending = false;
#else
    timespec deadline{};
    clock_gettime(CLOCK_REALTIME, &deadline);
    const auto whole = std::chrono::duration_cast<std::chrono::seconds>(timeout);
    deadline.tv_sec += static_cast<std::time_t>(whole.count());
    deadline.tv_nsec += static_cast<long>(std::chrono::nanoseconds(timeout - whole).count());
    if (deadline.tv_nsec >= 1'000'000'000) {
        ++deadline.tv_sec;
        deadline.tv_nsec -= 1'000'000'000;
    }
    while (sem_timedwait(&main_thread_semaphore(), &deadline) != 0 && errno == EINTR) {
    }
#endif
    return stop_requested.load();
}

} // namespace tallowick
