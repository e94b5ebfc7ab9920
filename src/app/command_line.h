#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace tallowick::app {

inline constexpr std::size_t smallest_max_datagram = 1024;
inline constexpr std::size_t largest_max_datagram = 65507; // the largest UDP payload over IPv4

// What the program is asked to do; the agent's run unless one of the others.
enum class program_action { run, help, version, install_service, uninstall_service, run_as_service };

struct command_line {
    bool help = false;
    program_action action = program_action::run;
    std::vector<std::string> paths;                  // drive prefix already cut off
    std::vector<std::string> excluded_processes;     // as typed
    bool envelope = false;                           // --envelope
    std::size_t max_datagram = largest_max_datagram; // --max-datagram N
    // What was not taken, as typed: unknown options ("--paht", "-path") and
    // values that no option took (the second of "--path C:\a C:\b").
    std::vector<std::string> ignored;
};

// Parses the agent's arguments. Unknown options are ignored, and listed in
// `ignored` so that the caller can name them; a malformed command line throws
// the option parser's exception (a std::exception).
command_line parse_command_line(int argc, const char* const* argv);

// "C:\data" -> "\data": the text between the first colon and the next one (or
// the end); an entry without a colon is kept as it is.
std::string strip_drive_prefix(const std::string& path);

// The standard error line that names an ignored argument: 'tallowick: unknown
// option "--paht" ignored', or for a value no option took, 'tallowick: argument
// "C:\b" ignored: no option takes it'.
std::string ignored_argument_line(const std::string& argument);

// The help banner, ten lines.
const char* help_banner();

// "Tallowick 0.2.0": the program's name and the version its version resource carries.
std::string version_line();

} // namespace tallowick::app
