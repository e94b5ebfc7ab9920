#pragma once

#include <cstddef>

namespace tallowick::app {

// The trace sessions the agent runs at once (file, kernel, process).
inline constexpr std::size_t agent_trace_sessions = 3;

// The agent's entry function: command line, then the trace sessions until Ctrl+C.
// Returns the process exit status.
int run_agent(int argc, const char* const* argv);

} // namespace tallowick::app
