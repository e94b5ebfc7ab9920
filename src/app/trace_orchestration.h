#pragma once

#include "monitor/event_scope.h"

namespace tallowick::app {

// Builds the three trace sessions, their providers and the worker pool, runs
// each session on a thread of its own until Ctrl+C, then stops, joins and
// drains in order. Returns the exit status: 0 after an interrupt, 1 when a
// provider or session could not be set up or failed while running. `scope` is
// read by the workers until this returns.
int run_traces(const monitor::event_scope& scope);

} // namespace tallowick::app
