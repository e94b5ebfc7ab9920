#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tallowick::testing {

// Windows test support: handles, command lines, the running program.

// Owns a Windows HANDLE (a void*, so that this header needs no <windows.h>).
class owned_handle {
  public:
    explicit owned_handle(void* handle = nullptr) : handle_(handle) {}
    ~owned_handle() { reset(); }
    owned_handle(const owned_handle&) = delete;
    owned_handle& operator=(const owned_handle&) = delete;
    void* get() const { return handle_; }
    void reset(void* handle = nullptr);

  private:
    void* handle_;
};

// The full path of `program`: a bare name is taken from the folder of the
// running test program, where the Windows build puts every program.
std::wstring resolve_program(const std::string& program);

// The UTF-16 command line whose parsing (CommandLineToArgvW, the C runtime)
// gives back `program` and `args` exactly.
std::wstring command_line(const std::wstring& program, const std::vector<std::string>& args);

std::wstring widen(const std::string& utf8);
std::string narrow(const std::wstring& wide);

// The running program's id and its image path in drive form.
std::uint32_t own_pid();
std::wstring own_program_path();

// Whether the program runs under Wine rather than Windows.
bool running_under_wine();

// Makes `link` a symbolic link to the directory `target`; false where the
// system refuses or only pretends (no privilege, no support).
bool make_directory_link(const std::wstring& target, const std::wstring& link);

// Whether a UDP socket opens, which needs Winsock started in this process.
bool udp_socket_opens();

} // namespace tallowick::testing
