#pragma once

#include "platform/system_api.h"

namespace tallowick::platform::windows {

// The system interface on Windows: each operation is the Win32 call its
// declaration names, with UTF-16 texts copied between char16_t and wchar_t.
class windows_system final : public system_api {
  public:
    open_result open_process(std::uint32_t desired_access, std::uint32_t pid) override;
    std::optional<std::u16string> process_image_file_name(native_handle process) override;
    std::optional<std::int64_t> process_creation_time(native_handle process) override;
    open_result open_process_token(native_handle process, std::uint32_t desired_access) override;
    std::uint32_t get_token_user(native_handle token, std::span<std::byte> buffer,
                                 std::uint32_t& needed) override;
    std::optional<account_name> lookup_account_sid(const std::byte* sid) override;
    std::optional<std::string> convert_sid_to_string(const std::byte* sid) override;
    std::optional<std::vector<std::byte>> convert_string_to_sid(const std::string& text) override;
    std::optional<std::u16string> volume_path_name(const std::u16string& path) override;
    std::uint32_t logical_drives() override;
    std::optional<std::u16string> query_dos_device(char16_t drive_letter) override;
    std::uint32_t enable_privilege(std::u16string_view name) override;
    file_kind file_status(const std::u16string& path) override;
    void close_handle(native_handle handle) override;

    std::string utf16_to_utf8(std::u16string_view text) override;
    std::u16string utf8_to_utf16(std::string_view text) override;
};

} // namespace tallowick::platform::windows
