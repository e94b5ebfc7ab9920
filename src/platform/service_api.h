#pragma once

#include <cstdint>

namespace tallowick::platform {

// A service's states and controls, numbered as Windows numbers them.
enum class service_state : std::uint32_t {
    stopped = 1,
    start_pending = 2,
    stop_pending = 3,
    running = 4,
};

inline constexpr std::uint32_t service_control_stop = 0x1;
inline constexpr std::uint32_t service_control_interrogate = 0x4;
inline constexpr std::uint32_t service_control_shutdown = 0x5;
inline constexpr std::uint32_t service_control_preshutdown = 0xF;

inline constexpr std::uint32_t service_accept_stop = 0x1;
inline constexpr std::uint32_t service_accept_shutdown = 0x4;
inline constexpr std::uint32_t service_accept_preshutdown = 0x100;

// What a control handler answers, and the exit code of a service that ends with
// an error of its own (the code then in service_exit_code).
inline constexpr std::uint32_t service_no_error = 0;
inline constexpr std::uint32_t service_call_not_implemented = 120;
inline constexpr std::uint32_t service_specific_error = 1066;

// The fields of SERVICE_STATUS a service sets (its type is always "own process").
struct service_status {
    service_state state = service_state::stopped;
    std::uint32_t controls_accepted = 0;
    std::uint32_t win32_exit_code = service_no_error;
    std::uint32_t service_exit_code = 0;
    std::uint32_t checkpoint = 0;
    std::uint32_t wait_hint_ms = 0;

    friend bool operator==(const service_status&, const service_status&) = default;
};

// Where a service's status goes: SetServiceStatus on Windows, a fake in tests.
class service_status_sink {
  public:
    virtual ~service_status_sink() = default;
    virtual void report(const service_status& status) = 0;
};

} // namespace tallowick::platform
