#pragma once

#include "monitor/event_scope.h"

#include <functional>

namespace tallowick::app {

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
int run_traces(const monitor::event_scope& scope, const run_hooks& hooks = {});

} // namespace tallowick::app
