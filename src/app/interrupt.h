#pragma once

#include <atomic>
#include <chrono>

namespace tallowick {

// Set by the SIGINT handler, never reset.
extern std::atomic<bool> stop_requested;

// Installs the SIGINT handler: it writes "Caught interrupt signal...", sets
// stop_requested and wakes the main thread, and nothing else, since it may run
// on any thread at any moment.
void install_interrupt_handler();

// Wakes a wait_for_wake_up (the interrupt handler does; so does anything else
// the main thread must look at). Async-signal-safe.
void wake_main_thread() noexcept;

// Waits until woken or until `timeout` has passed, without polling. Returns
// whether a stop was requested.
bool wait_for_wake_up(std::chrono::milliseconds timeout);

} // namespace tallowick
