#include "platform/simulated/simulated_system.h"

#include "platform/simulated/machine_clock.h"
#include "platform/simulated/sid_text.h"
#include "platform/windows_facts.h"

#include "platform/utf_codec.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace tallowick::platform::simulated {
namespace {
constexpr std::size_t max_sub_authorities = 15;
constexpr std::size_t account_buffer_units = 256; // LookupAccountSidW's buffers
// The longest image path Windows names (UNICODE_STRING counts bytes in 16 bits).
constexpr std::size_t image_path_units = 32767;
// Processes of the machine's own were created this long before it started.
constexpr std::int64_t own_processes_age = 3600LL * 10'000'000;
constexpr std::uint32_t synchronize = 0x100000;
// What a protected process, or another account's without SeDebugPrivilege, grants.
constexpr std::uint32_t limited_rights = process_query_limited_information | synchronize;
// Either query right lets the image name and the token be read.
constexpr std::uint32_t query_rights = process_query_information | process_query_limited_information;

std::u16string widen(std::string_view text) {
    return platform::utf8_to_utf16(text);
}

std::vector<std::byte> sid_or_throw(const std::string& text) {
    auto binary = sid_from_text(text);
    if (!binary)
        throw std::invalid_argument("not a SID: " + text);
    return std::move(*binary);
}

// The bytes of a binary SID that the caller vouches for, or an empty span
// when its header claims more sub-authorities than a SID can have.
std::span<const std::byte> sid_bytes(const std::byte* sid) {
    const auto count = std::to_integer<std::size_t>(sid[1]);
    if (count > max_sub_authorities)
        return {};
    return {sid, 8 + 4 * count};
}

// Windows compares paths without regard to ASCII case, and a directory with or
// without its final backslash.
std::u16string fold_path(std::u16string_view path) {
    std::u16string folded(path);
    for (char16_t& unit : folded)
        if (unit >= u'A' && unit <= u'Z')
            unit = static_cast<char16_t>(unit - u'A' + u'a');
    if (folded.size() > 3 && folded.back() == u'\\')
        folded.pop_back();
    return folded;
}

std::u16string fold_prefix(std::u16string_view prefix) {
    std::u16string folded = fold_path(prefix);
    if (!prefix.empty() && prefix.back() == u'\\' && folded.back() != u'\\')
        folded.push_back(u'\\');
    return folded;
}

file_kind to_kind(file_type type) {
    switch (type) {
    case file_type::dir:
        return file_kind::directory;
    case file_type::file:
        return file_kind::regular;
    case file_type::other:
        break;
    }
    return file_kind::other;
}
} // namespace

simulated_system::volume_state simulated_system::volume_of(const volume_entry& volume) {
    std::u16string device_name = widen(volume.device);
    if (!device_name.empty() && device_name.back() == u'\\')
        device_name.pop_back();
    return {fold_prefix(widen(volume.device)), fold_prefix(widen(volume.root)), widen(volume.root),
            std::move(device_name)};
}

simulated_system::simulated_system(const machine_inventory& model)
    : agent_sid_(sid_or_throw(model.agent_user_sid)), debug_held_(model.debug_privilege),
      started_(filetime_now()) {
    for (process_entry process : model.processes) {
        if (process.creation_time == 0)
            process.creation_time = started_ - own_processes_age;
        add_process(process);
    }
    for (const account_entry& account : model.accounts) {
        const auto canonical = sid_to_text(sid_or_throw(account.sid));
        accounts_.insert_or_assign(*canonical, account);
    }
    for (const volume_entry& volume : model.volumes)
        volumes_.push_back(volume_of(volume));
    for (const file_entry& file : model.files)
        files_.insert_or_assign(fold_path(widen(file.path)), to_kind(file.type));
}

void simulated_system::add_process(const process_entry& process) {
    auto state = std::make_shared<process_state>();
    state->entry = process;
    if (state->entry.creation_time == 0)
        state->entry.creation_time = performance_counter_now() + counter_base();
    state->image = widen(process.image);
    if (!process.user_sid.empty())
        state->user_sid = sid_or_throw(process.user_sid);
    state->access = process.access;
    std::lock_guard lock(mutex_);
    processes_.insert_or_assign(process.pid, std::move(state));
}

void simulated_system::remove_process(std::uint32_t pid) {
    std::lock_guard lock(mutex_);
    processes_.erase(pid);
}

std::vector<process_entry> simulated_system::running_processes() const {
    std::vector<process_entry> running;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [pid, state] : processes_)
            running.push_back(state->entry);
    }
    std::sort(running.begin(), running.end(),
              [](const process_entry& a, const process_entry& b) { return a.pid < b.pid; });
    return running;
}

void simulated_system::add_volume(const volume_entry& volume) {
    volume_state state = volume_of(volume);
    std::lock_guard lock(mutex_);
    volumes_.push_back(std::move(state));
}

std::size_t simulated_system::open_handle_count() const {
    std::lock_guard lock(mutex_);
    return handles_.size();
}

native_handle simulated_system::add_handle(handle_state state) {
    const native_handle handle = next_handle_;
    next_handle_ += 4;
    handles_.emplace(handle, std::move(state));
    return handle;
}

const simulated_system::handle_state* simulated_system::find_handle(native_handle handle, bool token) const {
    const auto found = handles_.find(handle);
    if (found == handles_.end() || found->second.is_token != token)
        return nullptr;
    return &found->second;
}

std::uint32_t simulated_system::rights_to(const process_state& process) const {
    switch (process.access) {
    case process_access::full:
        return process.user_sid == agent_sid_ || debug_enabled_.load() ? process_all_access : limited_rights;
    case process_access::limited:
        return limited_rights;
    case process_access::denied:
    case process_access::gone:
        break;
    }
    return 0;
}

open_result simulated_system::open_process(std::uint32_t desired_access, std::uint32_t pid) {
    std::lock_guard lock(mutex_);
    const auto found = processes_.find(pid);
    if (found == processes_.end() || found->second->access == process_access::gone)
        return {0, error_invalid_parameter};
    // Windows grants all the rights asked for or none.
    const std::uint32_t granted = rights_to(*found->second);
    if (granted == 0 || (desired_access & ~granted) != 0)
        return {0, error_access_denied};
    return {add_handle({found->second, desired_access, {}, false}), 0};
}

std::optional<std::u16string> simulated_system::process_image_file_name(native_handle process) {
    std::lock_guard lock(mutex_);
    const handle_state* state = find_handle(process, false);
    if (state == nullptr || (state->granted & query_rights) == 0 ||
        state->process->image.size() > image_path_units)
        return std::nullopt;
    return state->process->image;
}

std::optional<std::int64_t> simulated_system::process_creation_time(native_handle process) {
    std::lock_guard lock(mutex_);
    const handle_state* state = find_handle(process, false);
    if (state == nullptr || (state->granted & query_rights) == 0)
        return std::nullopt;
    return state->process->entry.creation_time;
}

open_result simulated_system::open_process_token(native_handle process, std::uint32_t /*desired_access*/) {
    std::lock_guard lock(mutex_);
    const handle_state* state = find_handle(process, false);
    if (state == nullptr)
        return {0, error_invalid_handle};
    if ((state->granted & query_rights) == 0 || state->process->user_sid.empty())
        return {0, error_access_denied};
    return {add_handle({nullptr, 0, state->process->user_sid, true}), 0};
}

std::uint32_t simulated_system::get_token_user(native_handle token, std::span<std::byte> buffer,
                                               std::uint32_t& needed) {
    std::vector<std::byte> sid;
    {
        std::lock_guard lock(mutex_);
        const handle_state* state = find_handle(token, true);
        if (state == nullptr)
            return error_invalid_handle;
        sid = state->token_sid;
    }
    const std::size_t size = sizeof(token_user_header) + sid.size();
    if (buffer.size() < size) {
        needed = static_cast<std::uint32_t>(size);
        return error_insufficient_buffer;
    }
    std::byte* sid_place = buffer.data() + sizeof(token_user_header);
    std::memcpy(sid_place, sid.data(), sid.size());
    const token_user_header header{sid_place, 0};
    std::memcpy(buffer.data(), &header, sizeof header);
    return 0;
}

std::optional<account_name> simulated_system::lookup_account_sid(const std::byte* sid) {
    const auto text = sid_to_text(sid_bytes(sid));
    if (!text)
        return std::nullopt;
    const auto found = accounts_.find(*text);
    if (found == accounts_.end())
        return std::nullopt;
    account_name result{widen(found->second.name), widen(found->second.domain)};
    // Both buffers hold 255 units and the terminator.
    if (result.name.size() >= account_buffer_units || result.domain.size() >= account_buffer_units)
        return std::nullopt;
    return result;
}

std::optional<std::string> simulated_system::convert_sid_to_string(const std::byte* sid) {
    return sid_to_text(sid_bytes(sid));
}

std::optional<std::vector<std::byte>> simulated_system::convert_string_to_sid(const std::string& text) {
    return sid_from_text(text);
}

std::optional<std::u16string> simulated_system::volume_path_name(const std::u16string& path) {
    volume_queries_.fetch_add(1, std::memory_order_relaxed);
    std::lock_guard lock(mutex_);
    // An NT path is answered with the boot volume's drive, whatever volume it names.
    if (path.starts_with(u"\\") && !path.starts_with(u"\\\\"))
        return volumes_.empty() ? std::nullopt : std::optional(volumes_.front().root);
    const std::u16string folded = fold_prefix(path);
    for (const volume_state& volume : volumes_)
        if (folded.starts_with(volume.folded_root))
            return volume.root;
    return std::nullopt;
}

namespace {
// The drive letter of a root such as "D:\", or 0 for a folder mount point.
char16_t drive_letter_of(std::u16string_view root) {
    if (root.size() != 3 || root[1] != u':' || root[2] != u'\\')
        return 0;
    const char16_t letter =
        root[0] >= u'a' && root[0] <= u'z' ? static_cast<char16_t>(root[0] - u'a' + u'A') : root[0];
    return letter >= u'A' && letter <= u'Z' ? letter : 0;
}
} // namespace

std::uint32_t simulated_system::logical_drives() {
    drive_listings_.fetch_add(1, std::memory_order_relaxed);
    std::lock_guard lock(mutex_);
    std::uint32_t drives = 0;
    for (const volume_state& volume : volumes_)
        if (const char16_t letter = drive_letter_of(volume.root); letter != 0)
            drives |= 1u << (letter - u'A');
    return drives;
}

std::optional<std::u16string> simulated_system::query_dos_device(char16_t drive_letter) {
    std::lock_guard lock(mutex_);
    for (const volume_state& volume : volumes_)
        if (drive_letter_of(volume.root) == drive_letter)
            return volume.device_name;
    return std::nullopt; // ERROR_FILE_NOT_FOUND on Windows
}

std::uint32_t simulated_system::enable_privilege(std::u16string_view name) {
    if (name != u"SeDebugPrivilege" || !debug_held_)
        return error_not_all_assigned;
    debug_enabled_.store(true);
    return 0;
}

file_kind simulated_system::file_status(const std::u16string& path) {
    const auto found = files_.find(fold_path(path));
    return found == files_.end() ? file_kind::none : found->second;
}

void simulated_system::close_handle(native_handle handle) {
    std::lock_guard lock(mutex_);
    handles_.erase(handle);
}

std::string simulated_system::utf16_to_utf8(std::u16string_view text) {
    return platform::utf16_to_utf8(text);
}

std::u16string simulated_system::utf8_to_utf16(std::string_view text) {
    return widen(text);
}

} // namespace tallowick::platform::simulated
