// Arbitrary argument lists through the agent's command-line parsing: the input
// split at NUL bytes is argv[1..]. A command line is either parsed (every path
// with its drive cut off) or refused with the option parser's exception.
#include "app/command_line.h"

#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> arguments{"tallowick"};
    std::string current;
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            arguments.push_back(std::move(current));
            current.clear();
        } else {
            current.push_back(static_cast<char>(data[i]));
        }
    }
    if (size != 0)
        arguments.push_back(std::move(current));
    std::vector<const char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(argument.c_str());
    argv.push_back(nullptr); // as main receives it
    try {
        tallowick::app::parse_command_line(static_cast<int>(arguments.size()), argv.data());
    } catch (const std::exception&) {
        // Refused: the agent reports an invalid command line and exits 2.
    }
    for (const std::string& argument : arguments)
        tallowick::app::strip_drive_prefix(argument);
    return 0;
}
