#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>

namespace tallowick::app {

// Set by the interrupt handler, never reset.
extern std::atomic<bool> stop_requested;

// Takes over every way the user or the system ends the agent, so that each
// ends it in order. Ctrl+C, and on POSIX SIGTERM and SIGHUP, and on Windows
// Ctrl+Break: stop_requested, counted for write_interrupt_lines, nothing else,
// since a signal handler may run on any thread at any moment and no handler
// may wait on a console. On Windows also the console's close, logoff and
// shutdown (see on_console_control). On POSIX, SIGPIPE is ignored beforehand
// (platform/process_setup.h).
void install_interrupt_handler();

// Writes "Caught interrupt signal..." once for each interrupt or termination
// taken since the last call, behind every console line queued before it, and
// once the line that says why the console is going away (on standard error).
// The main thread's part of what the handlers took.
void write_interrupt_lines();

// How long the stop, the drain of the queue and the run summary may take after
// the console's close, logoff or shutdown: Windows ends the process about five
// seconds after the event, and at once when the handler returns.
inline constexpr std::chrono::seconds close_budget{4};
// When the close budget ends, in steady_clock ticks; 0 while no close came.
// Set by the handler, never reset (tests reset it).
extern std::atomic<std::int64_t> close_deadline_ticks;
// The same as a time, when a close came.
std::optional<std::chrono::steady_clock::time_point> close_deadline();

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
// ends the process as soon as the handler returns, request the same ordered
// stop before anything else, with the close budget, and write nothing: they
// return once announce_sessions_stopped has been called (no trace session may
// be left running system-wide) and announce_run_finished too, or the budget
// and a moment more have passed. Returns whether it took the event.
bool on_console_control(std::uint32_t event);

// Called by the driver once its sessions are stopped (or were never started).
void announce_sessions_stopped();
// Called by the driver once it has written its last line: the queue drained
// or what was left of it counted, the summary queued, the console finished.
void announce_run_finished();

} // namespace tallowick::app
