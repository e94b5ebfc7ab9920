#include "platform/simulated/simulated_machine.h"

#include <string>
#include <utility>

namespace tallowick::platform::simulated {

simulated_machine::simulated_machine(const scenario& played, player_settings settings)
    : system_(played.machine.inventory), tracing_(played.machine, &system_),
      player_(played.steps, tracing_, system_, std::move(settings)) {}

std::unique_ptr<simulated_machine> make_simulated_machine(const char* path, player_settings settings) {
    const bool demo = path == nullptr || *path == '\0';
    const std::string source =
        demo ? std::string("built-in demo scenario") : "scenario file " + std::string(path);
    try {
        const scenario played = demo ? parse_scenario(demo_scenario_text()) : load_scenario_file(path);
        return std::make_unique<simulated_machine>(played, std::move(settings));
    } catch (const scenario_error& error) {
        if (!demo && error.place().empty())
            throw; // the loader has named the file already
        throw scenario_error("", source + ": " + error.what());
    }
}

} // namespace tallowick::platform::simulated
