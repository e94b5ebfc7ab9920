#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace tallowick::platform::simulated {

// A GUID as its four fields, the way Windows lays it out.
struct scenario_guid {
    std::uint32_t data1 = 0;
    std::uint16_t data2 = 0;
    std::uint16_t data3 = 0;
    std::array<std::uint8_t, 8> data4{};
    bool operator==(const scenario_guid&) const = default;
};

enum class process_access { full, limited, denied, gone };
enum class file_type { dir, file, other };

struct running_session {
    std::string name;
    std::uint32_t stop_status = 0;
};
struct registered_provider {
    std::string name;
    scenario_guid guid;
};
struct volume {
    std::string device; // e.g. \Device\HarddiskVolume3\ (with the final backslash)
    std::string root;   // e.g. C:\ (with the final backslash)
};
struct account {
    std::string sid;
    std::string name;
    std::string domain;
};
struct process {
    std::uint32_t pid = 0;
    std::string image; // NT device path
    std::string user_sid;
    process_access access = process_access::full;
};
struct file_entry {
    std::string path; // drive form
    file_type type = file_type::file;
};

struct machine_description {
    std::uint32_t major_version = 10;
    std::uint32_t minor_version = 0;
    bool admin = true;
    std::uint32_t trace_session_limit = 64;
    std::vector<running_session> running_sessions;
    std::vector<registered_provider> providers;
    std::vector<volume> volumes;
    std::vector<account> accounts;
    std::vector<process> processes;
    std::vector<file_entry> files;

    bool older_than_windows8() const { return major_version < 6 || (major_version == 6 && minor_version < 2); }
};

// The machine as it is when no scenario says otherwise.
machine_description default_machine();

// Steps that become Microsoft-Windows-Kernel-File records.
struct file_step {
    enum class kind { open, remove, rename, create } event = kind::open; // events 12, 26, 27, 30
    std::uint32_t pid = 0;
    std::string name; // device path
    std::uint32_t share_access = 0;
    std::uint32_t version = 1;
};
struct process_start_step {
    std::uint32_t pid = 0;
    std::uint32_t parent_pid = 0;
    std::string image_file_name;
    std::string command_line;
    std::string user_sid;
    std::optional<std::string> image; // adds the process to the machine
};
struct process_end_step {
    std::uint32_t pid = 0;
    std::uint32_t parent_pid = 0;
    std::string image_file_name;
    std::string command_line;
    std::string user_sid = "S-1-5-18";
};

enum class property_type { uint8, uint16, uint32, uint64, int32, pointer, unicode, ansi, sid, wbemsid, bytes };

struct record_property {
    std::string name;
    property_type type = property_type::uint32;
    std::uint64_t number = 0; // integer types (int32 as its two's complement)
    std::string text;         // unicode, ansi, sid, wbemsid (SID text); bytes: the raw bytes
};
struct record_step {
    bool kernel_process = false; // provider "kernel_process"
    scenario_guid provider;
    std::uint16_t id = 0;
    std::uint8_t version = 0;
    std::uint8_t opcode = 0;
    std::uint8_t level = 4;
    std::uint64_t keywords = 0;
    std::uint32_t pid = 0;
    std::uint16_t header_flags = 0x0040;
    bool schema_known = true;
    std::vector<record_property> properties;
    std::optional<std::uint32_t> truncate;
};
struct interrupt_step {};

struct step {
    std::uint32_t delay_ms = 0;
    std::variant<file_step, process_start_step, process_end_step, record_step, interrupt_step> action;
};

struct scenario {
    machine_description machine;
    std::vector<step> steps;
};

// A scenario that does not follow the format: where (a JSON pointer such as
// /steps/3/pid) and what is wrong.
class scenario_error : public std::runtime_error {
public:
    scenario_error(std::string place, const std::string& problem)
        : std::runtime_error(place.empty() ? problem : place + ": " + problem), place_(std::move(place)) {}
    const std::string& place() const { return place_; }

private:
    std::string place_;
};

// Parses scenario text strictly: unknown keys and bad values are errors.
scenario parse_scenario(std::string_view json);
// Reads and parses a scenario file; errors name the file.
scenario load_scenario_file(const std::string& path);

std::optional<scenario_guid> parse_guid(std::string_view text);

} // namespace tallowick::platform::simulated
