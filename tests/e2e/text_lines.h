#pragma once
// Splitting a program's captured output into its lines.

#include <sstream>
#include <string>
#include <vector>

namespace tallowick::testing {

inline std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// The text without the run summary the agent writes to standard error at stop.
inline std::string without_run_summary(const std::string& text) {
    std::string rest;
    for (const std::string& line : lines_of(text)) {
        if (line.rfind("tallowick: run summary: ", 0) != 0)
            rest += line + "\n";
    }
    return rest;
}

} // namespace tallowick::testing
