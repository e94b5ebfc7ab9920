// The console control handler's decisions, which Windows calls on a thread of
// its own: what it takes, and that an event after which Windows ends the
// process returns only once the sessions are stopped; and the order of the stops.
#include "app/exclusion_tables.h"
#include "app/interrupt.h"
#include "app/trace_orchestration.h"
#include "platform/windows_facts.h"
#include "support/fake_tracing.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace tallowick::app {
namespace {

TEST(ConsoleControl, EveryWayOutStopsTheSessionsAndTheLastWaitsForTheStop) {
    // Events Windows ends the process after: they request the stop before
    // anything else, write nothing themselves (the main thread says why), and
    // return only after the stop and the run's end.
    const std::array<std::uint32_t, 3> last_events{ctrl_close_event, ctrl_logoff_event, ctrl_shutdown_event};
    std::array<std::atomic<bool>, 3> returned{};
    std::vector<std::thread> handlers;
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    for (std::size_t i = 0; i < last_events.size(); ++i)
        handlers.emplace_back([&, i] {
            EXPECT_TRUE(on_console_control(last_events[i]));
            returned[i].store(true);
        });
    while (!stop_requested.load())
        std::this_thread::yield();
    const auto deadline = close_deadline();
    ASSERT_TRUE(deadline);
    EXPECT_LE(*deadline, std::chrono::steady_clock::now() + close_budget);
    for (const std::atomic<bool>& done : returned)
        EXPECT_FALSE(done.load());
    announce_sessions_stopped();
    for (const std::atomic<bool>& done : returned)
        EXPECT_FALSE(done.load()) << "returned before the run's end";
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    const std::string handlers_wrote = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(handlers_wrote, "");
    // The main thread's part: one line, for the first of the events.
    ::testing::internal::CaptureStderr();
    write_interrupt_lines();
    write_interrupt_lines();
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_TRUE(said.starts_with("tallowick: the ") && said.ends_with("; stopping the traces\n") &&
                said.find('\n') == said.size() - 1)
        << said;
    announce_run_finished();
    for (std::thread& handler : handlers)
        handler.join();
    for (const std::atomic<bool>& done : returned)
        EXPECT_TRUE(done.load());
    close_deadline_ticks.store(0);

    // Ctrl+C and Ctrl+Break take the Ctrl+C path and return at once.
    for (const std::uint32_t event : {ctrl_c_event, ctrl_break_event}) {
        stop_requested.store(false);
        EXPECT_TRUE(on_console_control(event));
        EXPECT_TRUE(stop_requested.load());
    }
    ::testing::internal::CaptureStdout();
    write_interrupt_lines();
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "Caught interrupt signal...\nCaught interrupt signal...\n");
    // Events it does not know are left to the next handler.
    for (const std::uint32_t event : {3u, 4u, 7u}) {
        stop_requested.store(false);
        EXPECT_FALSE(on_console_control(event));
        EXPECT_FALSE(stop_requested.load());
    }
}

// A requested stop stops the sessions in a fixed order: kernel, file, process.
TEST(RequestedStop, StopsTheKernelThenTheFileThenTheProcessSession) {
    testing::fake_tracing tracing;
    tracing.providers = {{u"Microsoft-Windows-Kernel-File", platform::kernel_file_provider},
                         {u"Microsoft-Windows-Kernel-Process", platform::kernel_process_provider}};
    tracing.process_until_stopped = true; // a session ends only when stopped
    const platform::scoped_tracing installed(tracing);
    const monitor::event_scope scope = agent_scope({}, {});
    stop_requested.store(true);
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    const int status = run_traces(scope);
    const std::string out = ::testing::internal::GetCapturedStdout();
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(status, 0) << out << err;
    stop_requested.store(false);

    std::vector<std::u16string> stopped;
    for (const auto& call : tracing.calls_of<testing::control_trace_call>()) {
        if (call.control_code == platform::sdk::event_trace_control_stop)
            stopped.push_back(call.session_name);
    }
    ASSERT_GE(stopped.size(), 3u);
    stopped.resize(3); // the rest are the sessions' own stops as they go
    EXPECT_EQ(stopped, (std::vector<std::u16string>{u"Velmar_Trace_WindowsKernel", u"Velmar_Trace_FileKernel",
                                                    u"Velmar_Trace_ProcessThreadKernel"}));
}

// What a service hears of the run: the sessions process records (only then),
// the stop has begun; a run that cannot set up its providers says neither.
TEST(RequestedStop, AServiceIsToldOnceTheSessionsRunAndOnceTheStopBegins) {
    for (const bool providers_found : {true, false}) {
        testing::fake_tracing tracing;
        if (providers_found)
            tracing.providers = {{u"Microsoft-Windows-Kernel-File", platform::kernel_file_provider},
                                 {u"Microsoft-Windows-Kernel-Process", platform::kernel_process_provider}};
        tracing.process_until_stopped = true;
        const platform::scoped_tracing installed(tracing);
        const monitor::event_scope scope = agent_scope({}, {});
        std::vector<std::string> told;
        run_hooks hooks;
        hooks.sessions_running = [&] {
            told.emplace_back("running");
            // As the service manager's stop would.
            stop_requested.store(true);
            wake_main_thread();
        };
        hooks.stopping = [&] { told.emplace_back("stopping"); };
        hooks.console_controls = false;
        ::testing::internal::CaptureStdout();
        ::testing::internal::CaptureStderr();
        const int status = run_traces(scope, hooks);
        ::testing::internal::GetCapturedStdout();
        const std::string err = ::testing::internal::GetCapturedStderr();
        stop_requested.store(false);
        if (providers_found) {
            EXPECT_EQ(status, 0) << err;
            EXPECT_EQ(told, (std::vector<std::string>{"running", "stopping"}));
        } else {
            EXPECT_EQ(status, 1) << err;
            EXPECT_TRUE(told.empty());
        }
    }
}

} // namespace
} // namespace tallowick::app
