#include "console/console.h"
#include "monitor/lookups.h"
#include "monitor/owned_handle.h"
#include "platform/windows_facts.h"

#include <cstring>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>

namespace tallowick::monitor {

using platform::current_system;

namespace {

// Names as the installed system answers them: another system (a test's
// machine) starts it afresh.
class account_cache {
  public:
    std::optional<std::string> find(const std::string& sid_text) {
        const std::lock_guard lock(mutex_);
        same_system();
        const auto found = names_.find(sid_text);
        if (found == names_.end())
            return std::nullopt;
        return found->second;
    }
    void keep(const std::string& sid_text, const std::string& name) {
        const std::lock_guard lock(mutex_);
        same_system();
        if (names_.size() >= account_cache_entries)
            names_.clear();
        names_.insert_or_assign(sid_text, name);
    }

  private:
    void same_system() {
        const platform::system_api* installed = &current_system();
        if (installed != system_)
            names_.clear();
        system_ = installed;
    }

    std::mutex mutex_;
    const platform::system_api* system_ = nullptr;
    std::unordered_map<std::string, std::string> names_;
};

account_cache& accounts() {
    static account_cache cache;
    return cache;
}

// The account name (without domain) of a binary SID, or "UNKNOWN"; `sid_text`
// its text where known, the cache's key.
std::string account_name_of(const std::byte* sid, std::optional<std::string> sid_text = std::nullopt) {
    platform::system_api& system = current_system();
    if (!sid_text)
        sid_text = system.convert_sid_to_string(sid);
    if (sid_text)
        if (std::optional<std::string> known = accounts().find(*sid_text))
            return std::move(*known);
    const auto account = system.lookup_account_sid(sid);
    if (!account)
        return std::string(unknown_owner);
    std::string name = system.utf16_to_utf8(account->name);
    if (sid_text)
        accounts().keep(*sid_text, name);
    return name;
}

// The binary SID of the token's user, copied out; empty when it cannot be read.
std::vector<std::byte> token_user_sid(platform::native_handle token) {
    platform::system_api& system = current_system();
    std::uint32_t needed = 0;
    if (system.get_token_user(token, {}, needed) != platform::error_insufficient_buffer ||
        needed < sizeof(platform::token_user_header))
        return {};
    std::vector<std::byte> buffer(needed);
    if (system.get_token_user(token, buffer, needed) != 0)
        return {};
    platform::token_user_header header{};
    std::memcpy(&header, buffer.data(), sizeof header);
    if (header.sid == nullptr)
        return {};
    // The SID lies in the buffer, after the header: keep the buffer whole.
    return buffer;
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
    const std::vector<std::byte> buffer = token_user_sid(token);
    if (buffer.empty())
        return std::string(unknown_owner);
    platform::token_user_header header{};
    std::memcpy(&header, buffer.data(), sizeof header);
    return account_name_of(static_cast<const std::byte*>(header.sid));
}

std::string get_process_owner_sid(std::uint32_t process_id) {
    platform::system_api& system = current_system();
    const platform::open_result opened =
        system.open_process(platform::process_query_limited_information, process_id);
    if (opened.handle == 0)
        return {};
    const owned_handle process(opened.handle);
    const platform::open_result token = system.open_process_token(process.get(), platform::token_query);
    if (token.handle == 0)
        return {};
    const owned_handle token_handle(token.handle);
    const std::vector<std::byte> buffer = token_user_sid(token_handle.get());
    if (buffer.empty())
        return {};
    platform::token_user_header header{};
    std::memcpy(&header, buffer.data(), sizeof header);
    return system.convert_sid_to_string(static_cast<const std::byte*>(header.sid)).value_or(std::string());
}

std::string get_account_name(const std::string& sid_text) {
    if (std::optional<std::string> known = accounts().find(sid_text))
        return std::move(*known);
    const auto sid = current_system().convert_string_to_sid(sid_text);
    if (!sid || sid->empty())
        return std::string(unknown_owner);
    return account_name_of(sid->data(), sid_text);
}

} // namespace tallowick::monitor
