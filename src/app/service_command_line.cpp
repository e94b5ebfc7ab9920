#include "app/service_command_line.h"

#include "monitor/name_comparison.h"

namespace tallowick::app {

std::string quote_argument(std::string_view argument) {
    if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string_view::npos)
        return std::string(argument);
    std::string quoted = "\"";
    std::size_t backslashes = 0;
    for (const char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        // Backslashes are literal unless a quote follows them.
        quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        quoted.push_back(c);
    }
    quoted.append(backslashes * 2, '\\');
    quoted.push_back('"');
    return quoted;
}

std::string service_command_line(std::string_view program, const std::vector<std::string>& options) {
    // The program's name is read up to the next quote, with no escapes.
    std::string line = "\"";
    line.append(program).append("\" --service");
    for (const std::string& option : options)
        line.append(" ").append(quote_argument(option));
    return line;
}

bool lies_within_any(std::string_view program, const std::vector<std::string>& folders) {
    for (std::string_view folder : folders) {
        while (!folder.empty() && folder.back() == '\\')
            folder.remove_suffix(1);
        // "C:\Program Files" holds "C:\Program Files\x.exe", not "C:\Program Files (x86)\x.exe".
        if (!folder.empty() && program.size() > folder.size() + 1 && program[folder.size()] == '\\' &&
            monitor::equals_ignoring_case(program.substr(0, folder.size()), folder))
            return true;
    }
    return false;
}

} // namespace tallowick::app
