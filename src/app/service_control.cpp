#include "app/service_control.h"

#include <utility>

namespace tallowick::app {

using platform::service_state;

namespace {
std::uint32_t milliseconds(std::chrono::milliseconds duration) {
    return static_cast<std::uint32_t>(duration.count());
}

const char* reason_of(std::uint32_t control) {
    switch (control) {
    case platform::service_control_shutdown:
        return "tallowick: the system is shutting down; stopping the traces";
    case platform::service_control_preshutdown:
        return "tallowick: the system is about to shut down; stopping the traces";
    default:
        return "tallowick: the service is asked to stop; stopping the traces";
    }
}
} // namespace

service_control::service_control(platform::service_status_sink& sink, stop_request request_stop, notice say)
    : sink_(sink), request_stop_(std::move(request_stop)), say_(std::move(say)) {}

void service_control::starting() {
    const std::lock_guard lock(mutex_);
    if (status_.state != service_state::stopped || ended_)
        return;
    // Controls are taken while starting: the agent's stop holds during start-up,
    // and a shutdown must not wait for a slow session.
    status_.state = service_state::start_pending;
    status_.controls_accepted = controls_taken;
    status_.checkpoint = 1;
    status_.wait_hint_ms = milliseconds(start_wait_hint);
    report_locked();
}

void service_control::sessions_running() {
    const std::lock_guard lock(mutex_);
    if (status_.state != service_state::start_pending)
        return;
    status_.state = service_state::running;
    status_.checkpoint = 0;
    status_.wait_hint_ms = 0;
    report_locked();
}

std::uint32_t service_control::handle(std::uint32_t control) {
    switch (control) {
    case platform::service_control_stop:
    case platform::service_control_shutdown:
    case platform::service_control_preshutdown: {
        bool first = false;
        {
            const std::lock_guard lock(mutex_);
            if (status_.state == service_state::start_pending || status_.state == service_state::running) {
                first = !std::exchange(stop_requested_, true);
                enter_stop_pending_locked();
            }
        }
        // Outside the lock: the stop request wakes the agent, which reports.
        if (first) {
            if (say_)
                say_(reason_of(control));
            request_stop_();
        }
        return platform::service_no_error;
    }
    case platform::service_control_interrogate:
        return platform::service_no_error;
    default:
        return platform::service_call_not_implemented;
    }
}

void service_control::stopping() {
    const std::lock_guard lock(mutex_);
    if (status_.state == service_state::start_pending || status_.state == service_state::running)
        enter_stop_pending_locked();
}

void service_control::progress() {
    const std::lock_guard lock(mutex_);
    if (status_.state != service_state::start_pending && status_.state != service_state::stop_pending)
        return;
    ++status_.checkpoint;
    report_locked();
}

void service_control::stopped(int exit_status) {
    const std::lock_guard lock(mutex_);
    if (std::exchange(ended_, true))
        return;
    status_.state = service_state::stopped;
    status_.controls_accepted = 0;
    status_.checkpoint = 0;
    status_.wait_hint_ms = 0;
    status_.win32_exit_code =
        exit_status == 0 ? platform::service_no_error : platform::service_specific_error;
    status_.service_exit_code = static_cast<std::uint32_t>(exit_status);
    report_locked();
}

service_state service_control::state() const {
    const std::lock_guard lock(mutex_);
    return status_.state;
}

void service_control::report_locked() {
    sink_.report(status_);
}

void service_control::enter_stop_pending_locked() {
    if (status_.state == service_state::stop_pending)
        return;
    status_.state = service_state::stop_pending;
    status_.controls_accepted = 0; // a second stop has nothing to add
    status_.checkpoint = 1;
    status_.wait_hint_ms = milliseconds(stop_wait_hint);
    report_locked();
}

} // namespace tallowick::app
