#include "platform/process_setup.h"

#include <csignal>

namespace tallowick::platform {

std::vector<std::string> process_setup(int argc, const char* const* argv) {
    // A console pipe whose reader has gone (`| head -1`) fails the write
    // instead of ending the process: the console writer counts the lines and
    // the run goes on.
    std::signal(SIGPIPE, SIG_IGN);
    std::vector<std::string> args;
    for (int i = 0; i < argc; ++i)
        args.emplace_back(argv[i]);
    return args;
}

} // namespace tallowick::platform
