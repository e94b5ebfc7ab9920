#include "support/run_process.h"

#include "support/windows_support.h"

#include <windows.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

namespace tallowick::testing {
namespace {
constexpr DWORD run_limit_ms = 120'000;

std::wstring temp_file() {
    wchar_t folder[MAX_PATH + 1] = {};
    wchar_t path[MAX_PATH + 1] = {};
    if (GetTempPathW(MAX_PATH + 1, folder) == 0 || GetTempFileNameW(folder, L"tlw", 0, path) == 0)
        throw std::runtime_error("no temporary file");
    return path;
}

HANDLE open_inheritable(const wchar_t* path, DWORD access, DWORD disposition) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE handle = CreateFileW(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                &inherit, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        throw std::runtime_error("cannot open " + narrow(path));
    return handle;
}

// The text a program wrote in text mode, with its line ends read back as "\n".
std::string read_text(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    std::string text = bytes.str();
    std::string result;
    result.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n'))
            result += text[i];
    return result;
}

// The current environment with NAME=VALUE entries added or replaced.
std::wstring environment_block(const std::vector<std::string>& extra) {
    std::vector<std::wstring> entries;
    if (wchar_t* block = GetEnvironmentStringsW()) {
        for (const wchar_t* entry = block; *entry != L'\0'; entry += wcslen(entry) + 1)
            entries.emplace_back(entry);
        FreeEnvironmentStringsW(block);
    }
    for (const std::string& text : extra) {
        const std::wstring entry = widen(text);
        const std::wstring name = entry.substr(0, entry.find(L'=') + 1);
        std::erase_if(entries, [&](const std::wstring& e) {
            return _wcsnicmp(e.c_str(), name.c_str(), name.size()) == 0;
        });
        entries.push_back(entry);
    }
    std::wstring block;
    for (const std::wstring& entry : entries)
        block.append(entry).push_back(L'\0');
    block.push_back(L'\0');
    return block;
}
} // namespace

process_result run_process(const std::string& program, const std::vector<std::string>& args,
                           const std::vector<std::string>& environment) {
    const std::wstring out_path = temp_file();
    const std::wstring err_path = temp_file();
    process_result result;
    {
        owned_handle in(open_inheritable(L"NUL", GENERIC_READ, OPEN_EXISTING));
        owned_handle out(open_inheritable(out_path.c_str(), GENERIC_WRITE, CREATE_ALWAYS));
        owned_handle err(open_inheritable(err_path.c_str(), GENERIC_WRITE, CREATE_ALWAYS));

        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = in.get();
        startup.hStdOutput = out.get();
        startup.hStdError = err.get();
        std::wstring line = command_line(resolve_program(program), args);
        std::wstring env = environment_block(environment);
        PROCESS_INFORMATION started{};
        if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_UNICODE_ENVIRONMENT,
                            env.data(), nullptr, &startup, &started))
            throw std::runtime_error("cannot start " + program + ": error " + std::to_string(GetLastError()));
        owned_handle process(started.hProcess);
        owned_handle thread(started.hThread);
        // A program that hangs fails the test instead of holding up the run.
        if (WaitForSingleObject(process.get(), run_limit_ms) != WAIT_OBJECT_0) {
            TerminateProcess(process.get(), 1);
            WaitForSingleObject(process.get(), INFINITE);
            result.exit_status = -1;
        } else {
            DWORD exit_code = 0;
            GetExitCodeProcess(process.get(), &exit_code);
            result.exit_status = static_cast<int>(exit_code);
        }
    }
    result.out = read_text(out_path);
    result.err = read_text(err_path);
    DeleteFileW(out_path.c_str());
    DeleteFileW(err_path.c_str());
    return result;
}

} // namespace tallowick::testing
