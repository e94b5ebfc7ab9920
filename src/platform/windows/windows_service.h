#pragma once

#include "platform/service_api.h"

#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tallowick::platform::windows {

// A failed service manager or registry call, with the Windows error.
class service_failure : public std::runtime_error {
  public:
    service_failure(const std::string& what, std::uint32_t error);
    std::uint32_t error() const { return error_; }

  private:
    std::uint32_t error_;
};

inline constexpr std::uint32_t error_access_denied = 5;
inline constexpr std::uint32_t error_service_does_not_exist = 1060;
inline constexpr std::uint32_t error_failed_service_controller_connect = 1063;
inline constexpr std::uint32_t error_service_marked_for_delete = 1072;
inline constexpr std::uint32_t error_service_exists = 1073;

struct service_definition {
    std::u16string name;
    std::u16string display_name;
    std::u16string description;
    std::u16string command_line; // the program's path, quoted, and its options
    std::chrono::milliseconds restart_delay{60'000};
    std::uint32_t restarts = 3;
    std::chrono::seconds failure_count_reset{24 * 60 * 60};
    std::chrono::milliseconds preshutdown_timeout{30'000};
};

// CreateServiceW (own process, automatic start, LocalSystem), then its
// description, its recovery actions (also after a run that stopped with an
// error, not only after a crash) and its preshutdown time-out. A setting that
// this Windows refuses is said through `warn`; the service stays.
using warning = void (*)(std::string_view line);
void install_service(const service_definition& service, warning warn);

// Stops the service when it runs (waiting for STOPPED at most `patience`) and
// deletes it.
void uninstall_service(std::u16string_view name, std::chrono::milliseconds patience);

// The Event Log source under Application, with the program as its message file
// (its message table holds message 1, "%1": each line as it is).
void register_event_source(std::u16string_view name, std::u16string_view message_file);
void unregister_event_source(std::u16string_view name);

// This program's full path (GetModuleFileNameW).
std::u16string program_path();

// The folders only administrators may change on a default installation:
// %ProgramFiles%, %ProgramW6432% and %SystemRoot%, those that are set.
std::vector<std::u16string> administrators_folders();

// Runs the calling thread as the service control dispatcher of the one service
// `name`: the manager's controls go to `handler` on this thread; `body` runs on
// the service's thread with the status sink to report to, and the service ends
// when it returns (having reported STOPPED). Returns the dispatcher's error
// (error_failed_service_controller_connect when the manager did not start us).
using control_handler = std::uint32_t (*)(std::uint32_t control);
using service_body = void (*)(service_status_sink& status);
std::uint32_t run_service_dispatcher(std::u16string_view name, control_handler handler, service_body body);

// Writes lines to the Event Log as the source `name`.
class event_log {
  public:
    explicit event_log(std::u16string_view name);
    ~event_log();
    event_log(const event_log&) = delete;
    event_log& operator=(const event_log&) = delete;

    enum class level { information, warning, error };
    // Message 1 with the line (UTF-8) as its one insertion string.
    void write(level kind, std::string_view line) noexcept;

  private:
    void* source_; // HANDLE
};

} // namespace tallowick::platform::windows
