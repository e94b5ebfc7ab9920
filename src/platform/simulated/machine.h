#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tallowick::platform::simulated {

// What a simulated process lets others do to it.
enum class process_access {
    full,    // opens with every right
    limited, // all access denied (5), query access works
    denied,  // every open fails with 5
    gone,    // every open fails with 87, as for a process that has ended
};

struct process_entry {
    std::uint32_t pid = 0;
    std::string image;    // NT device path, UTF-8
    std::string user_sid; // S-1-... text; empty: the token cannot be opened
    process_access access = process_access::full;
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
struct machine {
    std::vector<process_entry> processes;
    std::vector<account_entry> accounts = default_accounts();
    std::vector<volume_entry> volumes = default_volumes();
    std::vector<file_entry> files;

    static std::vector<account_entry> default_accounts();
    static std::vector<volume_entry> default_volumes();
};

} // namespace tallowick::platform::simulated
