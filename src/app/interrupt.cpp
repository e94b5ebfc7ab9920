#include "app/interrupt.h"

#include <csignal>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace tallowick {

std::atomic<bool> stop_requested{false};

namespace {
static_assert(std::atomic<bool>::is_always_lock_free, "the handler may only touch lock-free atomics");

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
}
} // namespace

void install_interrupt_handler() { std::signal(SIGINT, on_interrupt); }

} // namespace tallowick
