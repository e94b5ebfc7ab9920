#pragma once

#include "platform/simulated/scenario.h"
#include "platform/simulated/scenario_player.h"
#include "platform/simulated/simulated_system.h"
#include "platform/simulated/simulated_tracing.h"

#include <memory>
#include <string_view>

namespace tallowick::platform::simulated {

// A simulated Windows machine built from one scenario: the system half, the
// tracing half, and the player of its steps. Install both halves for as long
// as the program runs; the machine must outlive every call into them.
class simulated_machine {
  public:
    // Throws scenario_error for a step whose record cannot be built.
    simulated_machine(const scenario& played, player_settings settings);

    simulated_system& system() { return system_; }
    simulated_tracing& tracing() { return tracing_; }
    const scenario_player& player() const { return player_; }

  private:
    simulated_system system_;
    simulated_tracing tracing_;
    scenario_player player_; // last: stops and joins before the halves go
};

// The text of the built-in demo scenario, embedded at build time.
std::string_view demo_scenario_text();

// The machine of the scenario file at `path`, or of the built-in demo when
// `path` is null or empty. Throws scenario_error whose text names the file (or
// the demo), the place and what is wrong.
std::unique_ptr<simulated_machine> make_simulated_machine(const char* path, player_settings settings);

} // namespace tallowick::platform::simulated
