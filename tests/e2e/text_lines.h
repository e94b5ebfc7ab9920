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

} // namespace tallowick::testing
