#pragma once

#include <atomic>

namespace tallowick {

// Set by the SIGINT handler, never reset.
extern std::atomic<bool> stop_requested;

// Installs the SIGINT handler: it writes "Caught interrupt signal..." and sets
// stop_requested, and nothing else, since it may run on any thread at any moment.
void install_interrupt_handler();

} // namespace tallowick
