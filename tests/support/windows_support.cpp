#include "support/windows_support.h"

// Winsock 2 before <windows.h>, whose winsock.h would clash with it.
#include <winsock2.h>

#include <windows.h>

namespace tallowick::testing {
namespace {
// The rules of CommandLineToArgvW: backslashes are literal except before a
// quote, where they are doubled, and the quote itself escaped.
void append_quoted(std::wstring& line, const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
        line += arg;
        return;
    }
    line += L'"';
    std::size_t backslashes = 0;
    for (const wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        line.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        line += c;
    }
    line.append(2 * backslashes, L'\\');
    line += L'"';
}
} // namespace

void owned_handle::reset(void* handle) {
    if (handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE)
        CloseHandle(handle_);
    handle_ = handle;
}

std::wstring widen(const std::string& utf8) {
    if (utf8.empty())
        return {};
    const int size = static_cast<int>(utf8.size());
    std::wstring wide(
        static_cast<std::size_t>(MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0)), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), static_cast<int>(wide.size()));
    return wide;
}

std::string narrow(const std::wstring& wide) {
    if (wide.empty())
        return {};
    const int size = static_cast<int>(wide.size());
    std::string utf8(static_cast<std::size_t>(
                         WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr)),
                     '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, utf8.data(), static_cast<int>(utf8.size()), nullptr,
                        nullptr);
    return utf8;
}

std::uint32_t own_pid() {
    return GetCurrentProcessId();
}

std::wstring own_program_path() {
    std::wstring self(MAX_PATH, L'\0');
    DWORD length = 0;
    while ((length = GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size()))) ==
           self.size())
        self.resize(self.size() * 2);
    self.resize(length);
    return self;
}

std::wstring resolve_program(const std::string& program) {
    const std::wstring wide = widen(program);
    if (wide.find_first_of(L"\\/:") != std::wstring::npos)
        return wide;
    const std::wstring self = own_program_path();
    return self.substr(0, self.find_last_of(L'\\') + 1) + wide;
}

bool running_under_wine() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

bool make_directory_link(const std::wstring& target, const std::wstring& link) {
    // Wine 8 reports success without making the link.
    return CreateSymbolicLinkW(link.c_str(), target.c_str(),
                               SYMBOLIC_LINK_FLAG_DIRECTORY | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE) !=
               0 &&
           GetFileAttributesW(link.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool udp_socket_opens() {
    const SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET)
        return false;
    closesocket(s);
    return true;
}

std::wstring command_line(const std::wstring& program, const std::vector<std::string>& args) {
    std::wstring line;
    append_quoted(line, program);
    for (const std::string& arg : args) {
        line += L' ';
        append_quoted(line, widen(arg));
    }
    return line;
}

} // namespace tallowick::testing
