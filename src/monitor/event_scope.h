#pragma once

#include "monitor/program_exclusion.h"

#include <span>
#include <string>
#include <vector>

namespace tallowick::monitor {

// What the handlers report and what they leave out: the user's lists and views
// of the built-in tables. Built once before the sessions start and only read
// afterwards, from every worker at once; the tables must outlive it.
struct event_scope {
    std::vector<std::string> monitored_paths;    // drive prefix already cut off; none: documents only
    std::vector<std::string> excluded_processes; // the user's, as typed
    // Programs whose activity is never reported.
    std::span<const excluded_program> default_excluded_processes;
    // Image-path endings of other monitoring agents; their process starts are not reported.
    std::span<const std::string> excluded_agent_images;
    // File-name extensions that count as documents when no path is monitored.
    std::span<const std::string> document_extensions;
};

} // namespace tallowick::monitor
