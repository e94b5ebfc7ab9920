#include "platform/process_setup.h"

#include "platform/windows/wide_text.h"

// Winsock 2 before <windows.h>, whose winsock.h would clash with it.
#include <winsock2.h>

#include <windows.h>

#include <shellapi.h>

#include <memory>
#include <mutex>
#include <stdexcept>

namespace tallowick::platform {
namespace {
// Once for the process; Winsock stays up until the process ends.
void start_winsock() {
    static std::once_flag started;
    std::call_once(started, [] {
        WSADATA data{};
        if (const int error = WSAStartup(MAKEWORD(2, 0), &data); error != 0)
            throw std::runtime_error("Winsock start-up failed with error " + std::to_string(error));
    });
}

struct local_free {
    void operator()(wchar_t** memory) const { LocalFree(memory); }
};

// The narrow argv holds the arguments in the ANSI code page, which loses
// characters outside it; the wide command line holds them all.
std::vector<std::string> wide_command_line_arguments() {
    int count = 0;
    const std::unique_ptr<wchar_t*, local_free> wide(CommandLineToArgvW(GetCommandLineW(), &count));
    if (!wide)
        throw std::runtime_error("reading the command line failed with error " +
                                 std::to_string(GetLastError()));
    std::vector<std::string> args;
    args.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
        args.push_back(windows::wide_to_utf8(wide.get()[i]));
    return args;
}
} // namespace

std::vector<std::string> process_setup(int /*argc*/, const char* const* /*argv*/) {
    start_winsock();
    // The console's code page is left as it is: console lines go out as UTF-16
    // (platform/console.h), redirected ones as UTF-8 bytes.
    return wide_command_line_arguments();
}

} // namespace tallowick::platform
