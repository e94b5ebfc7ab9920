#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tallowick::platform::simulated {

// What a simulated process lets others do to it. A right not granted fails
// the open with 5.
enum class process_access {
    full,    // every right to its own account, and to others with SeDebugPrivilege
             // enabled; to others without it only PROCESS_QUERY_LIMITED_INFORMATION
    limited, // only PROCESS_QUERY_LIMITED_INFORMATION, as a protected process
    denied,  // every open fails with 5
    gone,    // every open fails with 87, as for a process that has ended
};

struct process_entry {
    std::uint32_t pid = 0;
    std::string image;    // NT device path, UTF-8
    std::string user_sid; // S-1-... text; empty: the token cannot be opened
    process_access access = process_access::full;
    std::uint32_t parent_pid = 0;
    std::string command_line = {};
    // FILETIME of its creation, what GetProcessTimes answers; 0: the machine
    // gives it one (an hour before the machine started, for its own processes).
    std::int64_t creation_time = 0;
};

struct account_entry {
    std::string sid; // S-1-... text
    std::string name;
    std::string domain;
};

struct volume_entry {
    std::string device; // device prefix with its final backslash
    std::string root;   // drive root with its final backslash
};

enum class file_type { dir, file, other };

struct file_entry {
    std::string path; // drive path
    file_type type = file_type::file;
};

// The processes, accounts, volumes and files of a simulated machine, as the
// `machine` section of a scenario gives them (all text UTF-8). The defaults
// are that section's: the three NT AUTHORITY service accounts and one volume,
// \Device\HarddiskVolume3\ mounted at C:\.
struct machine_inventory {
    // The account the agent runs as, and whether its token holds
    // SeDebugPrivilege (an elevated administrator's does, not enabled).
    std::string agent_user_sid = default_agent_user_sid;
    bool debug_privilege = true;
    std::vector<process_entry> processes;
    std::vector<account_entry> accounts = default_accounts();
    std::vector<volume_entry> volumes = default_volumes();
    std::vector<file_entry> files;

    static constexpr const char* default_agent_user_sid = "S-1-5-21-1-2-3-500";
    static std::vector<account_entry> default_accounts();
    static std::vector<volume_entry> default_volumes();
};

} // namespace tallowick::platform::simulated
