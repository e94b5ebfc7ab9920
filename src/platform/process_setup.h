#pragma once

#include <string>
#include <vector>

namespace tallowick::platform {

// Prepares the process before the agent runs and returns its command-line
// arguments (the program name first) as UTF-8. On Windows this starts Winsock
// (version 2.0) once for the process, takes the arguments from the wide command
// line rather than the narrow code page. Elsewhere the arguments are already
// UTF-8 and are returned as given, and SIGPIPE is ignored, so that a closed
// console pipe fails a write rather than ending the process.
// Throws std::runtime_error naming what failed.
std::vector<std::string> process_setup(int argc, const char* const* argv);

} // namespace tallowick::platform
