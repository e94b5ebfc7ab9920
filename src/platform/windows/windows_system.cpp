#include "platform/windows/windows_system.h"

#include "platform/windows/wide_text.h"

#include <windows.h>

#include <psapi.h>
#include <sddl.h>

#include <algorithm>
#include <limits>
#include <memory>
#include <vector>

namespace tallowick::platform::windows {
namespace {
// Fixed by the callers' contract: volume roots in 260 units, the first try at
// an image name too;
// account and domain names in 256.
constexpr DWORD path_units = MAX_PATH;
constexpr DWORD account_units = 256;
// The longest path the system names, and its terminator.
constexpr DWORD longest_path_units = 32768;

HANDLE to_handle(native_handle handle) {
    return reinterpret_cast<HANDLE>(handle);
}
native_handle from_handle(HANDLE handle) {
    return reinterpret_cast<native_handle>(handle);
}

// The text of a fixed buffer up to its first NUL.
std::u16string text_of(const wchar_t* buffer, std::size_t units) {
    const wchar_t* end = std::find(buffer, buffer + units, L'\0');
    return from_wide(std::wstring_view(buffer, static_cast<std::size_t>(end - buffer)));
}

struct local_free {
    void operator()(void* memory) const { LocalFree(memory); }
};
template <typename T> using local_memory = std::unique_ptr<T, local_free>;
} // namespace

open_result windows_system::open_process(std::uint32_t desired_access, std::uint32_t pid) {
    HANDLE process = OpenProcess(desired_access, FALSE, pid);
    if (process == nullptr)
        return {0, GetLastError()};
    return {from_handle(process), 0};
}

std::optional<std::u16string> windows_system::process_image_file_name(native_handle process) {
    // Grown on a short buffer up to the longest path the system names.
    for (DWORD units = path_units;; units = std::min<DWORD>(units * 4, longest_path_units)) {
        std::vector<wchar_t> buffer(units);
        DWORD written = units;
        if (QueryFullProcessImageNameW(to_handle(process), PROCESS_NAME_NATIVE, buffer.data(), &written))
            return from_wide(std::wstring_view(buffer.data(), written));
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || units >= longest_path_units)
            return std::nullopt;
    }
}

std::optional<std::int64_t> windows_system::process_creation_time(native_handle process) {
    FILETIME created{};
    FILETIME exited{};
    FILETIME kernel{};
    FILETIME user{};
    if (!GetProcessTimes(to_handle(process), &created, &exited, &kernel, &user))
        return std::nullopt;
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(created.dwHighDateTime) << 32) |
                                     created.dwLowDateTime);
}

open_result windows_system::open_process_token(native_handle process, std::uint32_t desired_access) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(to_handle(process), desired_access, &token))
        return {0, GetLastError()};
    return {from_handle(token), 0};
}

std::uint32_t windows_system::get_token_user(native_handle token, std::span<std::byte> buffer,
                                             std::uint32_t& needed) {
    const auto size =
        static_cast<DWORD>(std::min<std::size_t>(buffer.size(), std::numeric_limits<DWORD>::max()));
    DWORD returned = 0;
    const BOOL ok = GetTokenInformation(to_handle(token), TokenUser, size == 0 ? nullptr : buffer.data(),
                                        size, &returned);
    const DWORD error = ok ? 0 : GetLastError();
    needed = returned;
    return error;
}

std::optional<account_name> windows_system::lookup_account_sid(const std::byte* sid) {
    wchar_t name[account_units] = {};
    wchar_t domain[account_units] = {};
    DWORD name_units = account_units;
    DWORD domain_units = account_units;
    SID_NAME_USE use{};
    if (!LookupAccountSidW(nullptr, const_cast<std::byte*>(sid), name, &name_units, domain, &domain_units,
                           &use))
        return std::nullopt;
    return account_name{text_of(name, account_units), text_of(domain, account_units)};
}

std::optional<std::string> windows_system::convert_sid_to_string(const std::byte* sid) {
    char* raw = nullptr;
    if (!ConvertSidToStringSidA(const_cast<std::byte*>(sid), &raw))
        return std::nullopt;
    const local_memory<char> text(raw);
    return std::string(text.get());
}

std::optional<std::vector<std::byte>> windows_system::convert_string_to_sid(const std::string& text) {
    PSID raw = nullptr;
    if (!ConvertStringSidToSidA(text.c_str(), &raw))
        return std::nullopt;
    const local_memory<void> sid(raw);
    const auto* bytes = static_cast<const std::byte*>(sid.get());
    return std::vector<std::byte>(bytes, bytes + GetLengthSid(sid.get()));
}

std::optional<std::u16string> windows_system::volume_path_name(const std::u16string& path) {
    const std::wstring wide = to_wide(path);
    wchar_t buffer[path_units] = {};
    if (!GetVolumePathNameW(wide.c_str(), buffer, path_units))
        return std::nullopt;
    return text_of(buffer, path_units);
}

std::uint32_t windows_system::logical_drives() {
    return GetLogicalDrives();
}

std::optional<std::u16string> windows_system::query_dos_device(char16_t drive_letter) {
    const wchar_t drive[] = {static_cast<wchar_t>(drive_letter), L':', L'\0'};
    // A list of targets, each NUL-terminated; the first is the one in force.
    wchar_t buffer[path_units] = {};
    if (QueryDosDeviceW(drive, buffer, path_units) == 0)
        return std::nullopt;
    return text_of(buffer, path_units);
}

std::uint32_t windows_system::enable_privilege(std::u16string_view name) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
        return GetLastError();
    const std::wstring wide = to_wide(name);
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    DWORD status = ERROR_SUCCESS;
    if (!LookupPrivilegeValueW(nullptr, wide.c_str(), &privileges.Privileges[0].Luid))
        status = GetLastError();
    else if (!AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr))
        status = GetLastError();
    else
        status = GetLastError(); // succeeds with ERROR_NOT_ALL_ASSIGNED where the token lacks it
    CloseHandle(token);
    return status;
}

file_kind windows_system::file_status(const std::u16string& path) {
    const std::wstring wide = to_wide(path);
    DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return file_kind::none;
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        // A link or junction: the status is that of its target, which opening
        // the path (without FILE_FLAG_OPEN_REPARSE_POINT) reaches.
        HANDLE target = CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (target == INVALID_HANDLE_VALUE)
            return file_kind::none;
        BY_HANDLE_FILE_INFORMATION information{};
        const BOOL ok = GetFileInformationByHandle(target, &information);
        CloseHandle(target);
        if (!ok)
            return file_kind::none;
        attributes = information.dwFileAttributes;
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return file_kind::directory;
    if ((attributes & FILE_ATTRIBUTE_DEVICE) != 0)
        return file_kind::other;
    return file_kind::regular;
}

void windows_system::close_handle(native_handle handle) {
    CloseHandle(to_handle(handle));
}

std::string windows_system::utf16_to_utf8(std::u16string_view text) {
    return wide_to_utf8(to_wide(text));
}

std::u16string windows_system::utf8_to_utf16(std::string_view text) {
    return from_wide(utf8_to_wide(text));
}

} // namespace tallowick::platform::windows
