#pragma once

#include "platform/service_api.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string_view>

namespace tallowick::app {

// The agent's side of the service control manager's conversation: which status
// to report when, and what each control does. The manager's controls arrive on
// its dispatcher's thread, the progress of the run on the agent's: every call
// may come from any thread.
//
// START_PENDING until the trace sessions process records, then RUNNING. STOP,
// SHUTDOWN and PRESHUTDOWN request the agent's ordered stop once (as the
// console's Ctrl+C does) and report STOP_PENDING, whose checkpoint the caller
// advances while the agent stops, drains and sums up; STOPPED comes last, with
// the agent's exit status as the service's own exit code when it is not 0.
// Never back from STOP_PENDING to RUNNING, nothing after STOPPED.
class service_control {
  public:
    using stop_request = std::function<void()>;
    using notice = std::function<void(std::string_view line)>;

    // How long the manager is told to wait for the next checkpoint.
    static constexpr std::chrono::milliseconds start_wait_hint{10'000};
    static constexpr std::chrono::milliseconds stop_wait_hint{10'000};
    static constexpr std::uint32_t controls_taken = platform::service_accept_stop |
                                                    platform::service_accept_shutdown |
                                                    platform::service_accept_preshutdown;

    service_control(platform::service_status_sink& sink, stop_request request_stop, notice say);

    // Reports START_PENDING, the first checkpoint.
    void starting();
    // Every trace session processes records: RUNNING, unless a stop came first.
    void sessions_running();
    // The control handler's answer to `control`: NO_ERROR for those it takes
    // (and INTERROGATE, whose answer is the status last reported),
    // ERROR_CALL_NOT_IMPLEMENTED for the others.
    std::uint32_t handle(std::uint32_t control);
    // The agent stops of its own accord (a session failed): STOP_PENDING.
    void stopping();
    // The next checkpoint of a pending state; nothing in any other.
    void progress();
    // STOPPED, with the agent's exit status.
    void stopped(int exit_status);

    platform::service_state state() const;

  private:
    void report_locked();
    void enter_stop_pending_locked();

    platform::service_status_sink& sink_;
    stop_request request_stop_;
    notice say_;
    mutable std::mutex mutex_;
    platform::service_status status_;
    bool stop_requested_ = false;
    bool ended_ = false; // STOPPED reported: nothing comes after it
};

} // namespace tallowick::app
