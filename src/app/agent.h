#pragma once

#include "app/command_line.h"
#include "app/trace_orchestration.h"

#include <cstddef>

namespace tallowick::app {

// The trace sessions the agent runs at once (file, kernel, process).
inline constexpr std::size_t agent_trace_sessions = 3;

// The agent's entry function: command line, then what it asks for (the trace
// sessions until Ctrl+C, unless the banner, the version or the service).
// Returns the process exit status.
int run_agent(int argc, const char* const* argv);

// The monitoring itself, for `options` already parsed: the echo lines, then the
// trace sessions until stopped. `hooks` tell a service of the run.
int run_monitoring(command_line options, const run_hooks& hooks = {});

} // namespace tallowick::app
