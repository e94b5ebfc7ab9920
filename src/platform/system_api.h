#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tallowick::platform {

// A process or token handle as the platform hands it out; 0 means none.
using native_handle = std::uintptr_t;

// Access rights the lookups rely on (Win32 values).
inline constexpr std::uint32_t process_all_access = 0x1FFFFF;
inline constexpr std::uint32_t process_query_information = 0x400;
// Enough for the image name and the token, and granted where the others are not
// (protected processes, other accounts' services).
inline constexpr std::uint32_t process_query_limited_information = 0x1000;
inline constexpr std::uint32_t token_query = 0x8;

struct open_result {
    native_handle handle = 0;     // 0 when the open failed
    std::uint32_t last_error = 0; // GetLastError() after a failed open
};

struct account_name {
    std::u16string name;
    std::u16string domain;
};

enum class file_kind { none, directory, regular, other };

// The head of the TOKEN_USER that get_token_user writes (SID_AND_ATTRIBUTES, laid
// out as in the SDK); the SID it points to lies further on in the same buffer.
struct token_user_header {
    const void* sid;
    std::uint32_t attributes;
};

// The processes, tokens, accounts, SIDs, volumes and files of the machine, one
// virtual function per platform call. No decisions live here: every fallback
// and rule is in the portable code that calls it.
class system_api {
  public:
    virtual ~system_api() = default;

    // OpenProcess(access, FALSE, pid).
    virtual open_result open_process(std::uint32_t desired_access, std::uint32_t pid) = 0;
    // QueryFullProcessImageNameW(PROCESS_NAME_NATIVE): the NT device path of the
    // process image, of any length the system allows.
    virtual std::optional<std::u16string> process_image_file_name(native_handle process) = 0;
    // GetProcessTimes: the creation time, a FILETIME in 100-nanosecond units.
    virtual std::optional<std::int64_t> process_creation_time(native_handle process) = 0;
    // OpenProcessToken(process, access).
    virtual open_result open_process_token(native_handle process, std::uint32_t desired_access) = 0;
    // GetTokenInformation(token, TokenUser, buffer, size, &needed). Returns 0 on
    // success, otherwise the last error (122 with `needed` set for a short buffer).
    // On success the buffer holds a TOKEN_USER whose Sid points into the buffer.
    virtual std::uint32_t get_token_user(native_handle token, std::span<std::byte> buffer,
                                         std::uint32_t& needed) = 0;
    // LookupAccountSidW(nullptr, sid, ...) with 256-unit name and domain buffers.
    virtual std::optional<account_name> lookup_account_sid(const std::byte* sid) = 0;
    // ConvertSidToStringSidA + LocalFree. `sid` is a binary SID that the caller
    // has checked to be complete.
    virtual std::optional<std::string> convert_sid_to_string(const std::byte* sid) = 0;
    // ConvertStringSidToSidA + LocalFree: the binary SID of an S-1-... text.
    virtual std::optional<std::vector<std::byte>> convert_string_to_sid(const std::string& text) = 0;
    // GetVolumePathNameW with a 260-unit buffer: the root of the path's volume,
    // with its final backslash. Given an NT path (\Device\HarddiskVolume5\x)
    // Windows answers the boot volume's drive, not that volume's: never ask it so.
    virtual std::optional<std::u16string> volume_path_name(const std::u16string& path) = 0;
    // GetLogicalDrives: bit 0 stands for A:, bit 25 for Z:.
    virtual std::uint32_t logical_drives() = 0;
    // QueryDosDeviceW(L"X:"): the first target of the drive letter, the NT
    // device name of its volume (\Device\HarddiskVolume3, no final backslash).
    virtual std::optional<std::u16string> query_dos_device(char16_t drive_letter) = 0;
    // LookupPrivilegeValueW and AdjustTokenPrivileges on the process's own
    // token: 0 when the privilege is enabled, 1300 when the token does not hold
    // it, another error when a call fails.
    virtual std::uint32_t enable_privilege(std::u16string_view name) = 0;
    // The file-system status of a path, following links; none when it has none.
    virtual file_kind file_status(const std::u16string& path) = 0;
    // CloseHandle.
    virtual void close_handle(native_handle handle) = 0;

    // Text conversions. Invalid input never fails: unpaired surrogates and
    // malformed UTF-8 become U+FFFD, so every converted text is valid.
    virtual std::string utf16_to_utf8(std::u16string_view text) = 0;
    virtual std::u16string utf8_to_utf16(std::string_view text) = 0;
};

// The realisation in force for the process. Installed once before any subsystem
// runs (the program installs the real or the simulated machine; tests their own).
system_api& current_system();
// Installs `api` and returns the one it replaces (may be null).
system_api* install_system(system_api* api);

// Installs a realisation for one scope and puts the previous one back.
class scoped_system {
  public:
    explicit scoped_system(system_api& api) : previous_(install_system(&api)) {}
    ~scoped_system() { install_system(previous_); }
    scoped_system(const scoped_system&) = delete;
    scoped_system& operator=(const scoped_system&) = delete;

  private:
    system_api* previous_;
};

} // namespace tallowick::platform
