#include "platform/process_setup.h"

namespace tallowick::platform {

std::vector<std::string> process_setup(int argc, const char* const* argv) {
    std::vector<std::string> args;
    for (int i = 0; i < argc; ++i)
        args.emplace_back(argv[i]);
    return args;
}

} // namespace tallowick::platform
