#pragma once

#include <string>
#include <utility>
#include <vector>

namespace tallowick::testing {

struct process_result {
    int exit_status = -1; // exit code, or 128 + signal number (-1: killed after 2 minutes)
    std::string out;
    std::string err;
};

// Runs `program` with `args` (and extra environment entries NAME=VALUE) to its
// end, with standard input closed, and returns what it printed.
process_result run_process(const std::string& program, const std::vector<std::string>& args,
                           const std::vector<std::string>& environment = {});

} // namespace tallowick::testing
