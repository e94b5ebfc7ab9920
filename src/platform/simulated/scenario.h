#pragma once

#include "platform/sdk/etw_types.h"
#include "platform/simulated/machine_inventory.h"
#include "platform/simulated/record_builder.h"

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace tallowick::platform::simulated {

struct running_session {
    std::string name;
    std::uint32_t stop_status = 0;  // what a stop of it by name returns
    std::vector<GUID> providers;    // enabled in it, for every level and keyword
    std::uint32_t enable_flags = 0; // nonzero: a kernel logger with these flags
    // How far the system clock was set back since it started: its stamps,
    // converted from its own start, come out this much ahead.
    std::uint32_t clock_ahead_ms = 0;
};
struct registered_provider {
    std::string name;
    GUID guid{};
};

// How records reach the sessions' consumers. Synchronous: the player hands each
// record over and waits until every consumer has dispatched it (exact, nothing
// lost). Real time: as Windows does, the player writes records into each
// session's buffers without waiting, consumers read whole buffers, and records
// that find every buffer full are lost and counted.
enum class delivery_mode { synchronous, real_time };

// The machine of a scenario: its tracing side, and the processes, accounts,
// volumes and files the system interface answers for.
struct machine_config {
    std::uint32_t major_version = 10;
    std::uint32_t minor_version = 0;
    bool admin = true;
    std::uint32_t trace_session_limit = 64;
    std::uint32_t session_start_delay_ms = 0; // how long each StartTraceW takes
    delivery_mode delivery = delivery_mode::synchronous;
    std::uint32_t processors = 2; // sessions get at least two buffers per processor
    std::vector<running_session> running_sessions;
    std::vector<registered_provider> providers = default_providers();
    machine_inventory inventory;

    bool older_than_windows8() const {
        return major_version < 6 || (major_version == 6 && minor_version < 2);
    }
    // Event-id filters (EVENT_FILTER_TYPE_EVENT_ID) came with Windows 8.1.
    bool older_than_windows8_1() const {
        return major_version < 6 || (major_version == 6 && minor_version < 3);
    }
    static std::vector<registered_provider> default_providers();
};

// A process start adds the process to the machine when its image is given.
struct process_start_step {
    process_event event;
    std::optional<std::string> image;
};
struct process_end_step {
    process_event event;
};
struct interrupt_step {};
// A volume mounted while the agent runs: it gets its drive letter from then on.
struct volume_mount_step {
    volume_entry volume;
};
// Another program acting on a trace session through the machine's own calls,
// as an administrator's tool would: stops it (ControlTraceW by name), disables
// or enables a provider in it (EnableTraceEx2 with the handle a query by name
// gives), or sets a kernel logger's enable flags (ControlTraceW update).
struct outside_step {
    enum class act { stop_session, disable_provider, enable_provider, set_enable_flags };
    act what = act::stop_session;
    std::string session;
    GUID provider{}; // given by name or GUID, resolved when read
    std::uint64_t any_keywords = 0;
    std::uint8_t level = 0;
    std::uint32_t flags = 0;
};
// {"hold": {"session": NAME}} keeps the records the player hands to that
// session, in order, undelivered, and the player stops waiting for it;
// {"release": ...} delivers what was kept, then delivery goes on as before.
struct session_hold_step {
    std::string session;
    bool hold = true; // false: a release
};
struct step;
// {"repeat": {"times": N, "steps": [...]}}: its steps played N times over (N
// from 1), each with its own delay every time; repeats nest. A burst of any
// size costs the memory of one round.
struct repeat_step {
    std::uint32_t times = 1;
    std::vector<step> steps;
};

struct step {
    std::uint32_t delay_ms = 0;
    std::variant<file_event, process_start_step, process_end_step, record_description, interrupt_step,
                 repeat_step, volume_mount_step, session_hold_step, outside_step>
        action;
};

struct scenario {
    machine_config machine;
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

// A GUID written as 36 characters without braces.
std::optional<GUID> parse_guid(std::string_view text);

} // namespace tallowick::platform::simulated
