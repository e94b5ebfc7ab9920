#include "support/child_process.h"

#include <windows.h>

#include <stdexcept>

namespace tallowick::testing {

child_process::child_process(const std::string& program, const std::vector<std::string>& args) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE read_end = nullptr;
    HANDLE write_end = nullptr;
    if (!CreatePipe(&read_end, &write_end, &inherit, 0))
        throw std::runtime_error("CreatePipe failed");
    const owned_handle child_input(read_end);
    input_.reset(write_end);
    SetHandleInformation(write_end, HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = read_end;
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    std::wstring line = command_line(resolve_program(program), args);
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &started))
        throw std::runtime_error("cannot start " + program + ": error " + std::to_string(GetLastError()));
    CloseHandle(started.hThread);
    process_.reset(started.hProcess);
    pid_ = started.dwProcessId;
}

child_process::~child_process() {
    if (process_.get() != nullptr)
        TerminateProcess(process_.get(), 1);
}

std::uint32_t child_process::finish() {
    input_.reset();
    WaitForSingleObject(process_.get(), INFINITE);
    DWORD exit_code = 0;
    GetExitCodeProcess(process_.get(), &exit_code);
    process_.reset();
    return exit_code;
}

} // namespace tallowick::testing
