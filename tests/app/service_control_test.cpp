#include "app/service_control.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tallowick::app {
namespace {

using platform::service_state;
using platform::service_status;

// The service control manager as the agent sees it: every status reported.
struct fake_service_manager final : platform::service_status_sink {
    void report(const service_status& status) override { reported.push_back(status); }
    std::vector<service_status> reported;
};

struct ServiceControl : ::testing::Test {
    fake_service_manager manager;
    int stop_requests = 0;
    std::vector<std::string> notices;
    service_control control{manager, [this] { ++stop_requests; },
                            [this](std::string_view line) { notices.emplace_back(line); }};

    service_state last_state() const { return manager.reported.back().state; }
};

TEST_F(ServiceControl, StartsPendingAndRunsOnlyOnceTheSessionsDo) {
    control.starting();
    control.progress();
    control.progress();
    ASSERT_EQ(manager.reported.size(), 3u);
    for (std::uint32_t i = 0; i < 3; ++i) {
        EXPECT_EQ(manager.reported[i].state, service_state::start_pending);
        EXPECT_EQ(manager.reported[i].checkpoint, i + 1);
        EXPECT_GT(manager.reported[i].wait_hint_ms, 0u);
    }
    control.sessions_running();
    const service_status running = manager.reported.back();
    EXPECT_EQ(running.state, service_state::running);
    EXPECT_EQ(running.checkpoint, 0u);
    EXPECT_EQ(running.wait_hint_ms, 0u);
    EXPECT_EQ(running.controls_accepted, platform::service_accept_stop | platform::service_accept_shutdown |
                                             platform::service_accept_preshutdown);
    control.progress(); // no checkpoints while running
    EXPECT_EQ(manager.reported.size(), 4u);
}

// Each control, while starting and while running: what the handler answers,
// whether the agent is asked to stop, and what is reported.
TEST_F(ServiceControl, EachControlTakesTheOrderedStopOrIsDeclined) {
    struct control_case {
        const char* name;
        std::uint32_t control;
        bool running_first;
        std::uint32_t answer;
        bool stops;
        const char* notice;
    };
    const control_case cases[] = {
        {"stop", platform::service_control_stop, true, platform::service_no_error, true, "asked to stop"},
        {"shutdown", platform::service_control_shutdown, true, platform::service_no_error, true,
         "shutting down"},
        {"preshutdown", platform::service_control_preshutdown, true, platform::service_no_error, true,
         "about to shut down"},
        {"stop while starting", platform::service_control_stop, false, platform::service_no_error, true,
         "asked to stop"},
        {"shutdown while starting", platform::service_control_shutdown, false, platform::service_no_error,
         true, "shutting down"},
        {"interrogate", platform::service_control_interrogate, true, platform::service_no_error, false,
         nullptr},
        {"pause", 0x2, true, platform::service_call_not_implemented, false, nullptr},
        {"param change", 0x6, true, platform::service_call_not_implemented, false, nullptr},
        {"session change", 0xE, true, platform::service_call_not_implemented, false, nullptr},
    };
    for (const control_case& c : cases) {
        fake_service_manager manager;
        int stops = 0;
        std::vector<std::string> said;
        service_control control(
            manager, [&] { ++stops; }, [&](std::string_view line) { said.emplace_back(line); });
        control.starting();
        if (c.running_first)
            control.sessions_running();
        const std::size_t before = manager.reported.size();
        EXPECT_EQ(control.handle(c.control), c.answer) << c.name;
        EXPECT_EQ(stops, c.stops ? 1 : 0) << c.name;
        if (c.stops) {
            ASSERT_EQ(manager.reported.size(), before + 1) << c.name;
            EXPECT_EQ(manager.reported.back().state, service_state::stop_pending) << c.name;
            EXPECT_EQ(manager.reported.back().checkpoint, 1u) << c.name;
            EXPECT_EQ(manager.reported.back().controls_accepted, 0u) << c.name;
            ASSERT_EQ(said.size(), 1u) << c.name;
            EXPECT_NE(said[0].find(c.notice), std::string::npos) << said[0];
        } else {
            EXPECT_EQ(manager.reported.size(), before) << c.name;
            EXPECT_TRUE(said.empty()) << c.name;
        }
    }
}

TEST_F(ServiceControl, AStopIsRequestedOnceAndNeverUndone) {
    control.starting();
    control.handle(platform::service_control_stop);
    // The sessions come up after the stop: the service must not claim to run.
    control.sessions_running();
    EXPECT_EQ(control.handle(platform::service_control_shutdown), platform::service_no_error);
    EXPECT_EQ(control.handle(platform::service_control_preshutdown), platform::service_no_error);
    EXPECT_EQ(stop_requests, 1);
    EXPECT_EQ(last_state(), service_state::stop_pending);
    control.progress();
    control.progress();
    EXPECT_EQ(manager.reported.back().checkpoint, 3u);
    for (const service_status& status : manager.reported)
        EXPECT_NE(status.state, service_state::running);
}

TEST_F(ServiceControl, StoppedComesLastWithTheRunsStatus) {
    control.starting();
    control.sessions_running();
    control.handle(platform::service_control_stop);
    control.stopped(0);
    const service_status clean = manager.reported.back();
    EXPECT_EQ(clean.state, service_state::stopped);
    EXPECT_EQ(clean.win32_exit_code, platform::service_no_error);
    EXPECT_EQ(clean.controls_accepted, 0u);
    const std::size_t reports = manager.reported.size();
    // Nothing after STOPPED: not a late stop, a checkpoint, a second end or a restart.
    EXPECT_EQ(control.handle(platform::service_control_stop), platform::service_no_error);
    control.progress();
    control.sessions_running();
    control.stopped(1);
    control.starting();
    EXPECT_EQ(manager.reported.size(), reports);
    EXPECT_EQ(stop_requests, 1);
}

TEST_F(ServiceControl, AFailedRunStopsWithItsOwnExitCode) {
    struct failure_case {
        const char* name;
        bool running_first;
        int exit_status;
    };
    // A session that fails after the start, one that never starts, an unusable
    // stored command line: the recovery actions need an exit code to act on.
    for (const failure_case& c : {failure_case{"session failed", true, 1}, failure_case{"no start", false, 1},
                                  failure_case{"command line", false, 2}}) {
        fake_service_manager manager;
        service_control control(
            manager, [] {}, nullptr);
        control.starting();
        if (c.running_first)
            control.sessions_running();
        control.stopping(); // the agent's own stop
        EXPECT_EQ(manager.reported.back().state, service_state::stop_pending) << c.name;
        control.stopped(c.exit_status);
        EXPECT_EQ(manager.reported.back().state, service_state::stopped) << c.name;
        EXPECT_EQ(manager.reported.back().win32_exit_code, platform::service_specific_error) << c.name;
        EXPECT_EQ(manager.reported.back().service_exit_code, static_cast<std::uint32_t>(c.exit_status))
            << c.name;
    }
}

} // namespace
} // namespace tallowick::app
