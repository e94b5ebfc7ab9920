#include "platform/simulated/scenario_player.h"

#include "console/console.h"
#include "platform/utf_codec.h"

#include <csignal>
#include <string>
#include <type_traits>
#include <utility>

#if !defined(_WIN32)
#include <signal.h>
#endif

namespace tallowick::platform::simulated {
namespace {

// Whether SIGINT has a handler (or is ignored), so that raising it does not
// end the process. Nothing announces the installation of a handler, so the
// player asks. Windows has no way to ask: the handler is taken as installed.
bool sigint_handled() {
#if defined(_WIN32)
    return true;
#else
    struct sigaction current {};
    if (sigaction(SIGINT, nullptr, &current) != 0)
        return true;
    return (current.sa_flags & SA_SIGINFO) != 0 || current.sa_handler != SIG_DFL;
#endif
}

std::string seconds_text(std::chrono::milliseconds duration) {
    const auto count = duration.count();
    return count % 1000 == 0 ? std::to_string(count / 1000) + " s" : std::to_string(count) + " ms";
}

} // namespace

scenario_player::scenario_player(const std::vector<step>& steps, simulated_tracing& tracing,
                                 simulated_system& system, player_settings settings)
    : tracing_(tracing), system_(system), settings_(std::move(settings)) {
    if (!settings_.report)
        settings_.report = [](std::string_view line) { console::write_error_line(line); };
    if (!settings_.interrupt)
        settings_.interrupt = [] { std::raise(SIGINT); };
    for (std::size_t index = 0; index < steps.size(); ++index)
        steps_.push_back(prepare(steps[index], "/steps/" + std::to_string(index)));
    for_each_record(steps_, [&](const built_record& record) { tracing_.describe(record); });
    thread_ = std::jthread([this](std::stop_token stop) { play(std::move(stop)); });
}

scenario_player::prepared_step scenario_player::prepare(const step& source, const std::string& place) {
    prepared_step prepared;
    prepared.delay_ms = source.delay_ms;
    try {
        std::visit(
            [&](const auto& action) {
                using action_type = std::decay_t<decltype(action)>;
                if constexpr (std::is_same_v<action_type, file_event>) {
                    prepared.record = build_record(describe_file_event(action));
                } else if constexpr (std::is_same_v<action_type, process_start_step>) {
                    prepared.record = build_record(describe_process_event(action.event));
                    if (action.image)
                        prepared.started =
                            process_entry{action.event.process_id, *action.image,
                                          action.event.user_sid,   process_access::full,
                                          action.event.parent_id,  utf16_to_utf8(action.event.command_line)};
                } else if constexpr (std::is_same_v<action_type, process_end_step>) {
                    prepared.record = build_record(describe_process_event(action.event));
                    prepared.ended = action.event.process_id;
                } else if constexpr (std::is_same_v<action_type, record_description>) {
                    prepared.record = build_record(action);
                } else if constexpr (std::is_same_v<action_type, session_hold_step>) {
                    prepared.hold = action;
                } else if constexpr (std::is_same_v<action_type, volume_mount_step>) {
                    prepared.mounted = action.volume;
                } else if constexpr (std::is_same_v<action_type, outside_step>) {
                    prepared.outside = action;
                } else if constexpr (std::is_same_v<action_type, repeat_step>) {
                    prepared.times = action.times;
                    for (std::size_t index = 0; index < action.steps.size(); ++index)
                        prepared.body.push_back(
                            prepare(action.steps[index], place + "/repeat/steps/" + std::to_string(index)));
                }
            },
            source.action);
    } catch (const scenario_error&) {
        throw;
    } catch (const std::exception& error) {
        throw scenario_error(place, error.what());
    }
    return prepared;
}

scenario_player::~scenario_player() {
    thread_.request_stop();
    // The player's waits see the stop once woken (see wake_waiters).
    tracing_.wake_waiters();
    {
        const std::lock_guard lock(mutex_);
        changed_.notify_all();
    }
    if (thread_.joinable())
        thread_.join();
    for_each_record(steps_, [&](const built_record& record) { tracing_.forget(record); });
}

bool scenario_player::wait_until_played(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return played_ >= count; });
}

std::size_t scenario_player::steps_played() const {
    const std::lock_guard lock(mutex_);
    return played_;
}

void scenario_player::play(std::stop_token stop) {
    if (!tracing_.wait_for_processing(settings_.sessions, stop))
        return;
    // The kernel's rundown, stamped before any step, is read before the first.
    if (!tracing_.wait_until_read(stop))
        return;
    for (std::size_t index = 0; index < steps_.size(); ++index) {
        if (!play_step(steps_[index], index, stop))
            return;
        if (index + 1 == steps_.size())
            tracing_.flush_buffers();
        const std::lock_guard lock(mutex_);
        ++played_;
        changed_.notify_all();
    }
}

bool scenario_player::play_step(prepared_step& step, std::size_t index, const std::stop_token& stop) {
    if (!pause(std::chrono::milliseconds(step.delay_ms), stop))
        return false;
    if (step.record) {
        deliver(step, index, stop);
    } else if (step.mounted) {
        system_.add_volume(*step.mounted);
    } else if (step.hold) {
        hold_or_release(*step.hold, index, stop);
    } else if (step.outside) {
        // What the other program's call answered is its business; a scenario
        // that meant it to work wants to know when it did not.
        if (const std::uint32_t status = tracing_.act_outside(*step.outside); status != 0)
            settings_.report("simulated machine: step " + std::to_string(index) +
                             "'s outside call on trace session " + step.outside->session + " answered " +
                             std::to_string(status));
    } else if (step.times != 0) {
        for (std::uint32_t round = 0; round < step.times; ++round) {
            for (prepared_step& inner : step.body) {
                if (!play_step(inner, index, stop))
                    return false;
            }
        }
    } else {
        interrupt(stop);
    }
    return !stop.stop_requested();
}

bool scenario_player::pause(std::chrono::milliseconds duration, const std::stop_token& stop) {
    if (duration.count() == 0)
        return !stop.stop_requested();
    tracing_.flush_buffers();
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, duration, [&] { return stop.stop_requested(); });
    return !stop.stop_requested();
}

void scenario_player::hold_or_release(const session_hold_step& step, std::size_t index,
                                      const std::stop_token& stop) {
    const std::u16string name = utf8_to_utf16(step.session);
    const bool found = step.hold ? tracing_.hold(name) : tracing_.release(name, settings_.patience, stop);
    if (!found)
        settings_.report("simulated machine: step " + std::to_string(index) + " names trace session " +
                         step.session + ", which is not running; nothing to " +
                         (step.hold ? "hold" : "release"));
}

void scenario_player::deliver(prepared_step& step, std::size_t index, const std::stop_token& stop) {
    // A process exists from its start, created at its record's time, until
    // its end: both as the step plays, whenever a session delivers.
    const std::int64_t stamp = tracing_.next_time_stamp();
    if (step.started) {
        process_entry started = *step.started;
        started.creation_time = tracing_.system_time_of(stamp);
        system_.add_process(started);
    }
    const delivery_outcome outcome = tracing_.deliver(*step.record, settings_.patience, stop, stamp);
    for (const std::u16string& session : outcome.not_processing)
        settings_.report("simulated machine: trace session " + utf16_to_utf8(session) +
                         " did not process records within " + seconds_text(settings_.patience) + "; step " +
                         std::to_string(index) + "'s record was not delivered to it");
    if (step.ended)
        system_.remove_process(*step.ended);
}

void scenario_player::interrupt(const std::stop_token& stop) {
    tracing_.flush_buffers();
    // The agent installs its handler once its sessions run; until then a SIGINT
    // would end it the hard way.
    const auto deadline = std::chrono::steady_clock::now() + settings_.patience;
    while (!sigint_handled()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            settings_.report("simulated machine: no SIGINT handler within " +
                             seconds_text(settings_.patience) + "; raising the interrupt anyway");
            break;
        }
        if (!pause(std::chrono::milliseconds(1), stop))
            return;
    }
    settings_.interrupt();
}

} // namespace tallowick::platform::simulated
