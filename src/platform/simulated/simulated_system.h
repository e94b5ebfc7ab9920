#pragma once

#include "platform/simulated/machine_inventory.h"
#include "platform/system_api.h"

#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace tallowick::platform::simulated {

// The system interface answered from a `machine`: its processes, tokens,
// accounts, volumes and files behave as Windows would for the values given.
// Safe to call from any number of threads; processes may come and go while
// workers look them up.
class simulated_system final : public system_api {
  public:
    // Throws std::invalid_argument for a SID text that is not one.
    explicit simulated_system(const machine_inventory& model = {});

    // A process start or end while the machine runs. A handle already open on
    // a process keeps answering for it after it ends, as on Windows.
    void add_process(const process_entry& process);
    void remove_process(std::uint32_t pid);
    // The processes running now, as the kernel's rundown enumerates them.
    std::vector<process_entry> running_processes() const;
    // A volume mounted while the machine runs.
    void add_volume(const volume_entry& volume);
    bool debug_privilege_enabled() const { return debug_enabled_.load(); }

    std::size_t open_handle_count() const;
    std::size_t volume_query_count() const { return volume_queries_.load(std::memory_order_relaxed); }
    std::size_t logical_drives_count() const { return drive_listings_.load(std::memory_order_relaxed); }

    open_result open_process(std::uint32_t desired_access, std::uint32_t pid) override;
    std::optional<std::u16string> process_image_file_name(native_handle process) override;
    open_result open_process_token(native_handle process, std::uint32_t desired_access) override;
    std::optional<std::int64_t> process_creation_time(native_handle process) override;
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

  private:
    struct process_state {
        process_entry entry; // as added, its creation time given
        std::u16string image;
        std::vector<std::byte> user_sid; // empty: no token
        process_access access = process_access::full;
    };
    // A process handle holds the process as it was when opened; a token handle
    // holds its user's SID.
    struct handle_state {
        std::shared_ptr<const process_state> process;
        std::uint32_t granted = 0; // the rights of a process handle
        std::vector<std::byte> token_sid;
        bool is_token = false;
    };
    struct volume_state {
        std::u16string device; // folded
        std::u16string folded_root;
        std::u16string root;
        std::u16string device_name; // as given, without its final backslash
    };
    static volume_state volume_of(const volume_entry& volume);
    std::uint32_t rights_to(const process_state& process) const;

    native_handle add_handle(handle_state state);                            // mutex held
    const handle_state* find_handle(native_handle handle, bool token) const; // mutex held

    mutable std::mutex mutex_;
    std::unordered_map<std::uint32_t, std::shared_ptr<const process_state>> processes_;
    std::unordered_map<native_handle, handle_state> handles_;
    native_handle next_handle_ = 0x104;
    std::vector<volume_state> volumes_; // the first is the boot volume
    // Fixed at construction, read without the lock.
    std::unordered_map<std::string, account_entry> accounts_; // by canonical SID text
    std::vector<std::byte> agent_sid_;
    bool debug_held_ = true;
    std::atomic<bool> debug_enabled_{false};
    std::unordered_map<std::u16string, file_kind> files_; // by folded path
    std::atomic<std::size_t> volume_queries_{0};
    std::atomic<std::size_t> drive_listings_{0};
    std::int64_t started_ = 0; // FILETIME of the machine's start
};

} // namespace tallowick::platform::simulated
