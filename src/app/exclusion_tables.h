#pragma once

#include "monitor/event_scope.h"
#include "monitor/program_exclusion.h"

#include <array>
#include <string>
#include <vector>

namespace tallowick::app {

// Programs whose activity is never reported, each with how it is named and where it lives.
extern const std::array<monitor::excluded_program, 34> default_excluded_processes;
// Image-path endings of other monitoring agents; their process starts are not reported.
extern const std::array<std::string, 2> excluded_agent_images;
// File-name extensions that count as documents when no path is monitored.
extern const std::array<std::string, 17> document_extensions;

// The user's lists with views of the tables above: what the agent's handlers read.
monitor::event_scope agent_scope(std::vector<std::string> monitored_paths,
                                 std::vector<std::string> excluded_processes);

} // namespace tallowick::app
