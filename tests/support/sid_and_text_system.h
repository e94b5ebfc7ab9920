#pragma once
// A system realisation for trace-layer tests: SIDs and UTF conversions work as on
// Windows, every process, token, account, volume and file call fails. Counts the
// SID conversions and can be told to refuse them.

#include "platform/system_api.h"

namespace tallowick::testing {

class sid_and_text_system final : public platform::system_api {
  public:
    bool refuse_sid_conversion = false;
    int sid_conversions = 0;

    platform::open_result open_process(std::uint32_t, std::uint32_t) override { return {0, 87}; }
    std::optional<std::u16string> process_image_file_name(platform::native_handle) override { return {}; }
    std::optional<std::int64_t> process_creation_time(platform::native_handle) override { return {}; }
    platform::open_result open_process_token(platform::native_handle, std::uint32_t) override {
        return {0, 6};
    }
    std::uint32_t get_token_user(platform::native_handle, std::span<std::byte>, std::uint32_t&) override {
        return 6;
    }
    std::optional<platform::account_name> lookup_account_sid(const std::byte*) override { return {}; }
    std::optional<std::string> convert_sid_to_string(const std::byte* sid) override;
    std::optional<std::vector<std::byte>> convert_string_to_sid(const std::string& text) override;
    std::optional<std::u16string> volume_path_name(const std::u16string&) override { return {}; }
    std::uint32_t logical_drives() override { return 0; }
    std::optional<std::u16string> query_dos_device(char16_t) override { return {}; }
    std::uint32_t enable_privilege(std::u16string_view) override { return 1300; }
    platform::file_kind file_status(const std::u16string&) override { return platform::file_kind::none; }
    void close_handle(platform::native_handle) override {}
    std::string utf16_to_utf8(std::u16string_view text) override;
    std::u16string utf8_to_utf16(std::string_view text) override;
};

} // namespace tallowick::testing
