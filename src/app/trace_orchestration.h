#pragma once

#include "app/command_line.h"
#include "monitor/event_scope.h"

#include <chrono>
#include <cstddef>
#include <string_view>

#include <functional>

namespace tallowick::app {

// How the run sends its datagrams.
struct run_settings {
    bool envelope = false; // seal every message, and send the agent's own
    std::size_t max_datagram = largest_max_datagram;
    std::string_view version; // said in the "STARTED" message
    // How often an enveloped run sends its "STATUS" (looked at with the loss counters).
    std::chrono::milliseconds status_interval = std::chrono::seconds(60);
};

// What a caller that is not a console (the service) is told of the run.
struct run_hooks {
    // Every session processes records (called at most once, before any stop).
    std::function<void()> sessions_running;
    // The ordered stop has begun, whatever asked for it.
    std::function<void()> stopping;
    // Ctrl+C, the console's events and the termination signals end the run;
    // a service leaves them to the service control manager.
    bool console_controls = true;
};

// Builds the three trace sessions, their providers and the worker pool, runs
// each session on a thread of its own until Ctrl+C, then stops, joins and
// drains in order. Returns the exit status: 0 after an interrupt, 1 when a
// provider or session could not be set up or failed while running. `scope` is
// read by the workers until this returns.
int run_traces(const monitor::event_scope& scope, const run_settings& settings = {},
               const run_hooks& hooks = {});

} // namespace tallowick::app
