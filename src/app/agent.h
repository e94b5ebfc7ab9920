#pragma once

namespace tallowick {

// The agent's entry function: command line, then the trace sessions until Ctrl+C.
// Returns the process exit status.
int run_agent(int argc, const char* const* argv);

} // namespace tallowick
