#pragma once

#include "platform/simulated/simulated_tracing.h"

#include <string_view>

namespace tallowick::testing::harness {

// The simulated machine whose tracing half answers the redirected calls, built
// on first use from the scenario that TALLOWICK_SIM_SCENARIO names, else from
// tallowick-scenario.json beside the harness where it lies (the built-in demo
// when neither). A scenario that cannot be loaded ends the process with one
// line and status 2, as the program off Windows does.
platform::simulated::simulated_tracing& machine_tracing();

// Presses Ctrl+C in the program for an `interrupt` step.
void deliver_interrupt();

// Ends the process at once with one line on standard error and `status`; for
// what the harness cannot answer faithfully, where carrying on would test
// nothing.
[[noreturn]] void refuse(std::string_view problem, unsigned status);

} // namespace tallowick::testing::harness
