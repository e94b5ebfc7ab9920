#include "app/interrupt.h"

#include "console/console.h"

#include <condition_variable>
#include <csignal>
#include <mutex>

#ifdef _WIN32
#include "platform/console.h"
#else
#include <cerrno>
#include <ctime>
#include <semaphore.h>
#endif

namespace tallowick::app {

std::atomic<bool> stop_requested{false};
std::atomic<std::int64_t> close_deadline_ticks{0};

namespace {
static_assert(std::atomic<bool>::is_always_lock_free, "the handler may only touch lock-free atomics");

constexpr char interrupt_line[] = "Caught interrupt signal...";

// A flag one thread raises and others wait for; only ordinary threads use it.
class awaited_flag {
  public:
    void raise() {
        {
            const std::lock_guard lock(mutex_);
            raised_ = true;
        }
        changed_.notify_all();
    }
    void wait() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return raised_; });
    }
    void wait_until(std::chrono::steady_clock::time_point deadline) {
        std::unique_lock lock(mutex_);
        changed_.wait_until(lock, deadline, [this] { return raised_; });
    }
    // Waits at most `timeout`, then lowers the flag again.
    void wait_and_lower(std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, timeout, [this] { return raised_; });
        raised_ = false;
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool raised_ = false;
};

#ifdef _WIN32
// Windows runs console handlers and raised signals on ordinary threads, where a
// lock is allowed.
awaited_flag& main_thread_event() {
    static awaited_flag event;
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

// The end of the ordered stop and of the whole run, awaited by a handler whose
// return ends the process.
awaited_flag& sessions_stop() {
    static awaited_flag announcement;
    return announcement;
}
awaited_flag& run_end() {
    static awaited_flag announcement;
    return announcement;
}

// After the budget, the handler waits this much more for the run's last lines.
constexpr std::chrono::milliseconds close_grace{500};

// Interrupts taken but not yet announced. A handler only counts them: its own
// write would overtake the console lines still queued for the writer, and
// might wait on a console nobody reads.
std::atomic<unsigned> unannounced_interrupts{0};
static_assert(std::atomic<unsigned>::is_always_lock_free, "the handler may only touch lock-free atomics");
// The console event that ends the process, until its line is written.
constexpr std::uint32_t no_event = 0xFFFF'FFFF;
std::atomic<std::uint32_t> unannounced_close{no_event};

#ifdef _WIN32
// A SIGINT raised in the process itself (raise), which no console event
// brings: the runtime calls it on the raising thread, an ordinary one.
extern "C" void on_raised_interrupt(int) {
    std::signal(SIGINT, on_raised_interrupt); // the runtime resets the handler before calling it
    on_console_control(ctrl_c_event);
}
#else
extern "C" void on_interrupt(int) {
    unannounced_interrupts.fetch_add(1);
    stop_requested.store(true);
    wake_main_thread();
}
#endif

const char* close_line(std::uint32_t event) {
    return event == ctrl_close_event    ? "tallowick: the console is closing; stopping the traces"
           : event == ctrl_logoff_event ? "tallowick: the user is logging off; stopping the traces"
                                        : "tallowick: the system is shutting down; stopping the traces";
}
} // namespace

bool on_console_control(std::uint32_t event) {
    switch (event) {
    case ctrl_c_event:
    case ctrl_break_event:
        unannounced_interrupts.fetch_add(1);
        stop_requested.store(true);
        wake_main_thread();
        return true;
    case ctrl_close_event:
    case ctrl_logoff_event:
    case ctrl_shutdown_event: {
        // The stop first; console functions "may not work reliably" now, and a
        // console nobody reads would hold this thread: the main thread writes.
        const auto deadline = std::chrono::steady_clock::now() + close_budget;
        std::int64_t none = 0;
        close_deadline_ticks.compare_exchange_strong(none, deadline.time_since_epoch().count());
        std::uint32_t no_close = no_event;
        unannounced_close.compare_exchange_strong(no_close, event);
        stop_requested.store(true);
        wake_main_thread();
        sessions_stop().wait();
        run_end().wait_until(*close_deadline() + close_grace);
        return true;
    }
    default:
        return false;
    }
}

void write_interrupt_lines() {
    for (unsigned count = unannounced_interrupts.exchange(0); count > 0; --count)
        console::write_line(interrupt_line, true);
    const std::uint32_t closing = unannounced_close.exchange(no_event);
    if (closing != no_event)
        console::write_error_line(close_line(closing));
}

std::optional<std::chrono::steady_clock::time_point> close_deadline() {
    const std::int64_t ticks = close_deadline_ticks.load();
    if (ticks == 0)
        return std::nullopt;
    return std::chrono::steady_clock::time_point(std::chrono::steady_clock::duration(ticks));
}

void announce_sessions_stopped() {
    sessions_stop().raise();
}

void announce_run_finished() {
    run_end().raise();
}

void install_interrupt_handler() {
#ifdef _WIN32
    std::signal(SIGINT, on_raised_interrupt);
    // Installed last, so asked first: the console's events never reach the
    // runtime's own handler.
    platform::install_console_control_handler(&on_console_control);
#else
    main_thread_semaphore(); // made before a handler can post it
    for (const int signal_number : {SIGINT, SIGTERM, SIGHUP})
        std::signal(signal_number, on_interrupt);
#endif
}

void wake_main_thread() noexcept {
#ifdef _WIN32
    main_thread_event().raise();
#else
    sem_post(&main_thread_semaphore());
#endif
}

bool wait_for_wake_up(std::chrono::milliseconds timeout) {
#ifdef _WIN32
    main_thread_event().wait_and_lower(timeout);
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

} // namespace tallowick::app
