#include "app/agent.h"
#include "output/console.h"
#include "platform/process_setup.h"
#include "platform/system_api.h"

#ifdef _WIN32
#include "platform/windows/windows_system.h"
#include "platform/windows/windows_tracing.h"
#endif

#include <exception>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    using namespace tallowick;
    std::vector<std::string> args;
    try {
        args = platform::process_setup(argc, argv);
    } catch (const std::exception& error) {
        write_error_line(std::string("tallowick: ") + error.what());
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
    // Off Windows the simulated machine is installed here, configured by
    // TALLOWICK_SIM_SCENARIO or the built-in demo scenario.
#endif
    return run_agent(static_cast<int>(args.size()), utf8_argv.data());
}
