#include "app/agent.h"

#include "app/exclusion_tables.h"
#include "app/service_host.h"
#include "console/console.h"
#include "monitor/lookups.h"

#include <cstdio>
#include <exception>
#include <string>
#include <utility>
#include <vector>

namespace tallowick::app {

int run_agent(int argc, const char* const* argv) {
    command_line options;
    try {
        options = parse_command_line(argc, argv);
    } catch (const std::exception& error) {
        console::write_error_line(std::string("tallowick: invalid command line: ") + error.what());
        return 2;
    }
    // A mistyped option ("--paht") would otherwise leave the agent reporting
    // what the user never asked for without a word.
    if (options.action != program_action::help && options.action != program_action::version) {
        for (const std::string& ignored : options.ignored)
            console::write_error_line(ignored_argument_line(ignored));
    }
    switch (options.action) {
    case program_action::help:
        std::fputs(help_banner(), stdout);
        return 0;
    case program_action::version:
        std::fputs((version_line() + "\n").c_str(), stdout);
        return 0;
    case program_action::install_service: {
        // The options as parsed, never the text as typed: whatever else was on
        // the command line (an abbreviated switch among it) stays out of the
        // service's. A path without its drive reads back the same; one token
        // each, so that a value is never read as an option.
        std::vector<std::string> stored;
        for (const std::string& path : options.paths)
            stored.push_back("--path=" + path);
        for (const std::string& name : options.excluded_processes)
            stored.push_back("--excludeproc=" + name);
        if (options.envelope)
            stored.emplace_back("--envelope");
        if (options.max_datagram != largest_max_datagram)
            stored.push_back("--max-datagram=" + std::to_string(options.max_datagram));
        return install_service(stored);
    }
    case program_action::uninstall_service:
        return uninstall_service();
    case program_action::run_as_service:
        return run_as_service(std::vector<std::string>(argv, argv + argc));
    case program_action::run:
        break;
    }
    return run_monitoring(std::move(options));
}

int run_monitoring(command_line options, const run_hooks& hooks) {
    // Read by every worker until the sessions and the pool are gone: it lives here, above them.
    const monitor::event_scope scope =
        agent_scope(std::move(options.paths), std::move(options.excluded_processes));
    for (const std::string& path : scope.monitored_paths)
        console::write_line("Monitoring path: " + path);
    for (const std::string& name : scope.excluded_processes)
        console::write_line("Excluding Process: " + name);
    monitor::enable_process_lookup_rights();
    return run_traces(scope, {options.envelope, options.max_datagram, TALLOWICK_VERSION}, hooks);
}

} // namespace tallowick::app
