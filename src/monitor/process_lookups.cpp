#include "console/console.h"
#include "monitor/lookups.h"
#include "monitor/owned_handle.h"
#include "platform/windows_facts.h"

#include <cstring>
#include <utility>
#include <vector>

namespace tallowick::monitor {

using platform::current_system;

namespace {
// The account name (without domain) of a binary SID, or "UNKNOWN".
std::string account_name_of(const std::byte* sid) {
    platform::system_api& system = current_system();
    const auto account = system.lookup_account_sid(sid);
    if (!account)
        return std::string(unknown_owner);
    return system.utf16_to_utf8(account->name);
}
} // namespace

process_image_query query_process_image(std::uint32_t process_id) {
    platform::system_api& system = current_system();
    std::string image;
    {
        const platform::open_result opened =
            system.open_process(platform::process_query_limited_information, process_id);
        if (opened.handle == 0) {
            if (opened.last_error == platform::error_access_denied)
                return {std::string(access_denied_name), 0};
            return {{}, opened.last_error};
        }
        const owned_handle process(opened.handle);
        const auto device_path = system.process_image_file_name(process.get());
        if (!device_path)
            return {};
        image = system.utf16_to_utf8(*device_path);
    }
    return {device_path_to_drive_path(image), 0};
}

std::string get_process_image_path(std::uint32_t process_id) {
    process_image_query query = query_process_image(process_id);
    if (query.open_error != 0)
        console::write_line("PROC ID FALLBACK ERROR: " + std::to_string(query.open_error));
    return std::move(query.image);
}

std::optional<std::int64_t> get_process_creation_time(std::uint32_t process_id) {
    platform::system_api& system = current_system();
    const platform::open_result opened =
        system.open_process(platform::process_query_limited_information, process_id);
    if (opened.handle == 0)
        return std::nullopt;
    const owned_handle process(opened.handle);
    return system.process_creation_time(process.get());
}

std::string get_process_owner(std::uint32_t process_id) {
    platform::system_api& system = current_system();
    const platform::open_result opened =
        system.open_process(platform::process_query_limited_information, process_id);
    if (opened.handle == 0)
        return std::string(unknown_owner);
    const owned_handle process(opened.handle);
    const platform::open_result token = system.open_process_token(process.get(), platform::token_query);
    if (token.handle == 0)
        return std::string(unknown_owner);
    const owned_handle token_handle(token.handle);
    return get_token_user_name(token_handle.get());
}

void enable_process_lookup_rights() {
    // Where the token does not hold it, the lookups do without.
    (void)current_system().enable_privilege(u"SeDebugPrivilege");
}

std::string get_token_user_name(platform::native_handle token) {
    platform::system_api& system = current_system();
    std::uint32_t needed = 0;
    if (system.get_token_user(token, {}, needed) != platform::error_insufficient_buffer ||
        needed < sizeof(platform::token_user_header))
        return std::string(unknown_owner);
    std::vector<std::byte> buffer(needed);
    if (system.get_token_user(token, buffer, needed) != 0)
        return std::string(unknown_owner);
    platform::token_user_header header{};
    std::memcpy(&header, buffer.data(), sizeof header);
    if (header.sid == nullptr)
        return std::string(unknown_owner);
    return account_name_of(static_cast<const std::byte*>(header.sid));
}

std::string get_account_name(const std::string& sid_text) {
    const auto sid = current_system().convert_string_to_sid(sid_text);
    if (!sid || sid->empty())
        return std::string(unknown_owner);
    return account_name_of(sid->data());
}

} // namespace tallowick::monitor
