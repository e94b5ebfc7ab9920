#include "app/agent.h"

#include "app/command_line.h"
#include "app/exclusion_tables.h"
#include "app/trace_orchestration.h"
#include "console/console.h"
#include "monitor/lookups.h"

#include <cstdio>
#include <exception>
#include <string>
#include <utility>

namespace tallowick::app {

int run_agent(int argc, const char* const* argv) {
    command_line options;
    try {
        options = parse_command_line(argc, argv);
    } catch (const std::exception& error) {
        console::write_error_line(std::string("tallowick: invalid command line: ") + error.what());
        return 2;
    }
    if (options.help) {
        std::fputs(help_banner(), stdout);
        return 0;
    }
    // A mistyped option ("--paht") would otherwise leave the agent reporting
    // what the user never asked for without a word.
    for (const std::string& ignored : options.ignored)
        console::write_error_line(ignored_argument_line(ignored));
    // Read by every worker until the sessions and the pool are gone: it lives here, above them.
    const monitor::event_scope scope =
        agent_scope(std::move(options.paths), std::move(options.excluded_processes));
    for (const std::string& path : scope.monitored_paths)
        console::write_line("Monitoring path: " + path);
    for (const std::string& name : scope.excluded_processes)
        console::write_line("Excluding Process: " + name);
    monitor::enable_process_lookup_rights();
    return run_traces(scope);
}

} // namespace tallowick::app
