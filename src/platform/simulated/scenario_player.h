#pragma once

#include "platform/simulated/record_builder.h"
#include "platform/simulated/scenario.h"
#include "platform/simulated/simulated_system.h"
#include "platform/simulated/simulated_tracing.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace tallowick::platform::simulated {

struct player_settings {
    // Consumers that must be processing at once before the first step: the
    // sessions the agent runs.
    std::size_t sessions = 1;
    // How long a record waits for the sessions that take it to process.
    std::chrono::milliseconds patience{10'000};
    // Receives a line about a record or interrupt that could not wait any
    // longer; standard error when unset.
    std::function<void(std::string_view)> report;
    // Presses Ctrl+C in the agent's process; std::raise(SIGINT) when unset.
    std::function<void()> interrupt;
};

// Plays a scenario's steps on a thread of its own once the agent's sessions are
// processing: waits each step's delay, delivers its record through the
// simulated tracing (a process start adds its process to the machine first, an
// end removes it once its record is dispatched) and raises SIGINT for an
// interrupt; a repeat plays its steps round after round; a hold keeps a
// session's records from it until the release. Then the machine
// stays idle. In real-time delivery the sessions' partly filled buffers go to
// their consumers whenever the player pauses, interrupts or finishes.
class scenario_player {
  public:
    // Builds every step's record first: a step whose record cannot be built
    // throws scenario_error naming the step, before anything is played.
    scenario_player(const std::vector<step>& steps, simulated_tracing& tracing, simulated_system& system,
                    player_settings settings);
    // Stops playing, also in the middle of a delay or a wait, and joins.
    ~scenario_player();
    scenario_player(const scenario_player&) = delete;
    scenario_player& operator=(const scenario_player&) = delete;

    // Waits until `count` steps have been played; false after `timeout`.
    bool wait_until_played(std::size_t count, std::chrono::milliseconds timeout) const;
    // Waits until the last step has been played; false after `timeout`.
    bool wait_until_finished(std::chrono::milliseconds timeout) const {
        return wait_until_played(steps_.size(), timeout);
    }
    std::size_t steps_played() const;

  private:
    struct prepared_step {
        std::uint32_t delay_ms = 0;
        std::optional<built_record> record; // none: an interrupt, a mount, an outside act or a repeat
        std::optional<process_entry> started;
        std::optional<std::uint32_t> ended;
        std::optional<volume_entry> mounted;
        std::optional<session_hold_step> hold; // a hold or a release
        std::optional<outside_step> outside;
        std::uint32_t times = 0; // a repeat: plays `body` this many times
        std::vector<prepared_step> body;
    };

    static prepared_step prepare(const step& source, const std::string& place);
    // Calls `visit(record)` for every record of the steps, repeats included.
    template <typename Visit> static void for_each_record(std::vector<prepared_step>& steps, Visit&& visit) {
        for (prepared_step& step : steps) {
            if (step.record)
                visit(*step.record);
            for_each_record(step.body, visit);
        }
    }
    void play(std::stop_token stop);
    // Plays one step (a repeat all its rounds); false when stopped.
    bool play_step(prepared_step& step, std::size_t index, const std::stop_token& stop);
    // Waits `duration` unless stopped first; false when stopped.
    bool pause(std::chrono::milliseconds duration, const std::stop_token& stop);
    void deliver(prepared_step& step, std::size_t index, const std::stop_token& stop);
    void interrupt(const std::stop_token& stop);
    void hold_or_release(const session_hold_step& step, std::size_t index, const std::stop_token& stop);

    simulated_tracing& tracing_;
    simulated_system& system_;
    player_settings settings_;
    std::vector<prepared_step> steps_;

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::size_t played_ = 0;
    std::jthread thread_; // last: it starts once everything else exists
};

} // namespace tallowick::platform::simulated
