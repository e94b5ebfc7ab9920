#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

namespace tallowick::app {

// Set by the interrupt handler, never reset.
extern std::atomic<bool> stop_requested;

// Takes over every way the user or the system ends the agent, so that each
// ends it in order. Ctrl+C, and on POSIX SIGTERM and SIGHUP, and on Windows
// Ctrl+Break: "Caught interrupt signal..." and stop_requested, nothing else,
// since a signal handler may run on any thread at any moment. On Windows also
// the console's close, logoff and shutdown (see on_console_control).
void install_interrupt_handler();

// Writes "Caught interrupt signal..." once for each interrupt or termination
// signal taken since the last call. The POSIX handler only counts them, so that
// the line comes behind every console line queued before it; on Windows the
// handler runs on an ordinary thread and writes the line itself.
void write_interrupt_lines();

// Wakes a wait_for_wake_up (the interrupt paths do; so does anything else the
// main thread must look at). Async-signal-safe on POSIX.
void wake_main_thread() noexcept;

// Waits until woken or until `timeout` has passed, without polling. Returns
// whether a stop was requested.
bool wait_for_wake_up(std::chrono::milliseconds timeout);

// Console control events, numbered as Windows numbers them.
inline constexpr std::uint32_t ctrl_c_event = 0;
inline constexpr std::uint32_t ctrl_break_event = 1;
inline constexpr std::uint32_t ctrl_close_event = 2;
inline constexpr std::uint32_t ctrl_logoff_event = 5;
inline constexpr std::uint32_t ctrl_shutdown_event = 6;

// The console control handler (Windows runs it on a thread of its own): C and
// BREAK take the Ctrl+C path; CLOSE, LOGOFF and SHUTDOWN, after which Windows
// ends the process as soon as the handler returns, start the same ordered stop
// and return only once announce_sessions_stopped has been called, so that no
// trace session is left running system-wide. Returns whether it took the event.
bool on_console_control(std::uint32_t event);

// Called by the driver once its sessions are stopped (or were never started).
void announce_sessions_stopped();

} // namespace tallowick::app
