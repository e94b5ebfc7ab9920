#include "app/agent.h"
#include "console/console.h"
#include "platform/process_setup.h"
#include "platform/system_api.h"

#ifdef _WIN32
#include "platform/windows/windows_system.h"
#include "platform/windows/windows_tracing.h"
#else
#include "platform/simulated/simulated_machine.h"
#include "platform/tracing_api.h"

#include <cstdlib>
#include <memory>
#endif

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    using namespace tallowick;
    // Whole lines reach a pipe as they are written, in the order they were
    // written, also beside the interrupt handler's direct write. The Windows C
    // runtime buffers a line-buffered stream whole blocks at a time (cutting
    // lines), so there every line goes out unbuffered, as its one write (to a
    // real console, as UTF-16: platform/console.h).
#ifdef _WIN32
    std::setvbuf(stdout, nullptr, _IONBF, 0);
#else
    std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
#endif
    std::vector<std::string> args;
    try {
        args = platform::process_setup(argc, argv);
    } catch (const std::exception& error) {
        console::write_error_line(std::string("tallowick: ") + error.what());
        return 1;
    }
    std::vector<const char*> utf8_argv;
    for (const std::string& arg : args)
        utf8_argv.push_back(arg.c_str());
    utf8_argv.push_back(nullptr);

#ifdef _WIN32
    platform::windows::windows_system system;
    const platform::scoped_system installed(system);
    platform::windows::windows_tracing tracing;
    const platform::scoped_tracing tracing_installed(tracing);
#else
    // Off Windows the program runs on a simulated machine: the scenario that
    // TALLOWICK_SIM_SCENARIO names, or the built-in demo. Its steps play once
    // the agent's sessions process records.
    std::unique_ptr<platform::simulated::simulated_machine> machine;
    try {
        platform::simulated::player_settings settings;
        settings.sessions = app::agent_trace_sessions;
        machine =
            platform::simulated::make_simulated_machine(std::getenv("TALLOWICK_SIM_SCENARIO"), settings);
    } catch (const std::exception& error) {
        console::write_error_line(std::string("tallowick: ") + error.what());
        return 2;
    }
    const platform::scoped_system installed_system(machine->system());
    const platform::scoped_tracing installed_tracing(machine->tracing());
#endif
    return app::run_agent(static_cast<int>(args.size()), utf8_argv.data());
}
