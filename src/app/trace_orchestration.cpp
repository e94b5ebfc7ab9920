#include "app/trace_orchestration.h"

#include "app/agent_messages.h"
#include "app/datagram_sink.h"
#include "app/envelope.h"
#include "app/interrupt.h"
#include "app/loss_watch.h"
#include "app/run_ledger.h"
#include "app/session_guard.h"
#include "app/session_restore.h"
#include "app/session_sizing.h"
#include "console/console.h"
#include "decoding/errors.h"
#include "monitor/file_provider_setup.h"
#include "monitor/pending_attribution.h"
#include "monitor/process_provider_setup.h"
#include "monitor/process_tracker.h"
#include "platform/filetime.h"
#include "platform/utf_codec.h"
#include "pool/thread_pool.h"
#include "trace/kernel_logger_trace.h"
#include "trace/kernel_provider.h"
#include "trace/manifest_trace.h"
#include "trace/provider.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <exception>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace tallowick::app {
namespace {

std::string session_text(const etw::trace_session& session) {
    return platform::utf16_to_utf8(session.name());
}

// The first failure of any session thread, reported once the sessions are down.
class session_failures {
  public:
    void record(std::string line) {
        std::lock_guard lock(mutex_);
        if (!first_)
            first_ = std::move(line);
        failed_.store(true);
        wake_main_thread();
    }
    bool any() const { return failed_.load(); }
    std::optional<std::string> first() const {
        std::lock_guard lock(mutex_);
        return first_;
    }

  private:
    mutable std::mutex mutex_;
    std::optional<std::string> first_;
    std::atomic<bool> failed_{false};
};

// How long a session stopped from outside waits between tries to start again.
constexpr std::chrono::seconds restart_pause{1};

// Waits `duration` in small steps; false once the shutdown has begun.
bool pause_unless_shutting_down(std::chrono::milliseconds duration, const std::atomic<bool>& shutting_down) {
    constexpr std::chrono::milliseconds step{50};
    for (std::chrono::milliseconds waited{0}; waited < duration; waited += step) {
        if (shutting_down.load())
            return false;
        std::this_thread::sleep_for(step);
    }
    return !shutting_down.load();
}

// One session on its own thread. A session stopped from outside is started
// again at once, under the same name with the same providers and buffers: one
// stop command must not end all monitoring. A session that fails to start, or
// fails while processing, or cannot be started again after `restore_tries`,
// ends the run: the agent must not go on looking as if it watched what it no
// longer sees. Errors that come once the shutdown has begun are the stop's own doing.
void run_session(etw::trace_session& session, session_failures& failures,
                 const std::atomic<bool>& shutting_down, restore_ledger& ledger) {
    const std::string name = session_text(session);
    std::optional<session_restore> restoring; // stopped from outside, on its way back
    std::chrono::system_clock::time_point last_restored;
    for (;;) {
        std::string failure;
        try {
            if (!session.begin())
                return;
            if (restoring) {
                restoring->restored = std::chrono::system_clock::now();
                last_restored = restoring->restored;
                ledger.restored(*restoring);
                restoring.reset();
            }
            session.process();
        } catch (const std::exception& error) {
            failure = error.what();
        } catch (...) {
            failure = "unknown exception";
        }
        if (shutting_down.load())
            return;
        if (!failure.empty()) {
            if (!restoring) {
                failures.record("trace session " + name + " failed: " + failure);
                return;
            }
            if (restoring->tries >= restore_tries) {
                failures.record("trace session " + name + " " + restoring->found +
                                ", and could not be started again after " + std::to_string(restoring->tries) +
                                " tries: " + failure);
                return;
            }
            ++restoring->tries;
            if (!pause_unless_shutting_down(restart_pause, shutting_down))
                return;
            continue;
        }
        // Processing ended without a stop of ours. Stopped again right after
        // a restart: started again a little later, so that a session that
        // keeps ending costs a line a second, not a busy loop.
        const auto noticed = std::chrono::system_clock::now();
        restoring = session_restore{name, "", "was stopped from outside", "started again", noticed, {}, 1};
        session.forget_ended_session();
        if (noticed - last_restored < restart_pause &&
            !pause_unless_shutting_down(restart_pause, shutting_down))
            return;
    }
}

// Stops every session (a failing stop does not keep the others running).
// After the console's close the stops share a part of the close budget.
bool stop_all(const std::array<etw::trace_session*, 3>& sessions) {
    const std::chrono::milliseconds patience =
        close_deadline() ? std::chrono::duration_cast<std::chrono::milliseconds>(close_budget) / 4 /
                               static_cast<int>(sessions.size())
                         : etw::trace_session::last_buffers_patience;
    bool clean = true;
    for (etw::trace_session* session : sessions) {
        try {
            session->stop(patience);
        } catch (const etw::need_to_be_admin_failure& error) {
            // A leftover session we attached to because we may not stop it:
            // still not ours to stop. Our consumer is closed all the same.
            console::write_error_line("tallowick: trace session " + session_text(*session) +
                                      " was left running: " + error.what());
        } catch (const etw::invalid_parameter& error) {
            console::write_error_line("tallowick: trace session " + session_text(*session) +
                                      " was left running: " + error.what());
        } catch (const std::exception& error) {
            console::write_error_line("tallowick: trace session " + session_text(*session) +
                                      " did not stop: " + error.what());
            clean = false;
        }
    }
    return clean;
}

// How often the sessions' lost-event counters are read while running.
constexpr std::chrono::seconds loss_check_interval{2};
// How long the exit waits for a console that does not take its last lines.
constexpr std::chrono::seconds exit_patience{5};
// After the console's close, the console's last lines keep 1/console_share of
// the budget; the queue's drain has the rest after the stop.
constexpr int console_share = 4;

// The agent's own messages go out only with an envelope.
class agent_voice {
  public:
    agent_voice(datagram_sink& sink, bool speaking) : sink_(sink), speaking_(speaking) {}
    // `make` builds the message, only when it is to be sent.
    template <typename Make> void say(Make&& make) {
        if (!speaking_)
            return;
        rapidjson::Document message = std::forward<Make>(make)();
        sink_.send_agent(message, platform::filetime_now());
    }
    bool speaking() const { return speaking_; }

  private:
    datagram_sink& sink_;
    bool speaking_;
};

// How often a caller waiting for the sessions to process records looks again.
constexpr std::chrono::milliseconds session_start_poll{50};

std::uint32_t requested_workers() {
    const unsigned hardware = std::thread::hardware_concurrency();
    return hardware > 0 ? hardware - 1 : 0;
}

} // namespace

int run_traces(const monitor::event_scope& scope, const run_settings& settings, const run_hooks& hooks) {
    etw::manifest_trace file_session(u"Velmar_Trace_FileKernel");
    etw::kernel_logger_trace kernel_session(u"Velmar_Trace_WindowsKernel");
    etw::manifest_trace process_session(u"Velmar_Trace_ProcessThreadKernel");

    std::optional<etw::provider<std::uint64_t>> file_provider;
    std::optional<etw::provider<std::uint64_t>> process_provider;
    try {
        file_provider.emplace(u"Microsoft-Windows-Kernel-File");
    } catch (const std::exception& error) {
        console::write_error_line(std::string("tallowick: provider Microsoft-Windows-Kernel-File: ") +
                                  error.what());
        return 1;
    }
    etw::kernel::process_provider kernel_process_provider;
    try {
        process_provider.emplace(u"Microsoft-Windows-Kernel-Process");
    } catch (const std::exception& error) {
        console::write_error_line(std::string("tallowick: provider Microsoft-Windows-Kernel-Process: ") +
                                  error.what());
        return 1;
    }

    file_session.size_buffers(file_session_buffers);
    kernel_session.size_buffers(kernel_session_buffers);
    process_session.size_buffers(process_session_buffers);
    process_provider->set_any_keywords(kernel_process_keyword_process);

    // Stop order and join order alike: kernel, file, process.
    const std::array<etw::trace_session*, 3> sessions{&kernel_session, &file_session, &process_session};
    const std::vector<etw::trace_session*> session_list(sessions.begin(), sessions.end());

    // Before the pool: queued tasks may still ask the tracker and send through
    // the sink while the pool drains.
    monitor::process_tracker tracker;
    run_ledger ledger(session_names(session_list));
    std::optional<envelope> seal;
    if (settings.envelope)
        seal.emplace(this_host_name(), new_run_id());
    datagram_sink sink(ledger, {settings.max_datagram, seal ? &*seal : nullptr});
    agent_voice agent(sink, settings.envelope);
    // Emptied explicitly before the run summary, which counts what it sent.
    std::optional<pool::thread_pool> pool(std::in_place, requested_workers());
    // After the pool, gone before it: what still waits is queued when it goes.
    std::optional<monitor::pending_attribution> pending(std::in_place, tracker,
                                                        [&kernel_session] { kernel_session.flush(); });

    monitor::setup_filekernel_provider(*file_provider, *pool, scope, sink, tracker, &*pending);
    monitor::setup_kernel_process_provider(kernel_process_provider, *pool, scope, sink, tracker, &*pending);

    kernel_session.enable(kernel_process_provider);
    file_session.enable(*file_provider);
    process_session.enable(*process_provider);

    session_failures failures;
    std::atomic<bool> shutting_down{false};
    std::array<std::thread, 3> threads;
    restore_ledger restores(console::write_error_line, [&agent](const session_restore& restore) {
        agent.say([&restore] { return session_restored_message(restore); });
    });
    int status = 0;
    // Ctrl+C taken over, then announced, before any session runs: a record's
    // line must not come before the announcement, and a Ctrl+C prompted by the
    // announcement must find the handler, not end the process with the
    // sessions left running.
    if (hooks.console_controls)
        install_interrupt_handler();
    // From here on a blocked standard output costs console lines, never events.
    console::asynchronous_console console(&ledger);
    console::write_line("starting traces...", true);
    agent.say([&] {
        return started_message(
            {settings.version, &scope.monitored_paths, &scope.excluded_processes, settings.max_datagram});
    });
    try {
        for (std::size_t i = 0; i < sessions.size(); ++i)
            threads[i] = std::thread(run_session, std::ref(*sessions[i]), std::ref(failures),
                                     std::cref(shutting_down), std::ref(restores));
    } catch (const std::system_error& error) {
        console::write_error_line(std::string("tallowick: cannot start a session thread: ") + error.what());
        status = 1;
    }

    loss_watch losses(session_list, ledger, [&agent](const loss_news& news) {
        console::write_error_line(loss_line(news));
        agent.say([&news] { return events_lost_message(news); });
    });
    if (status == 0 && hooks.sessions_running) {
        // Only while starting; a session start reports to no one, so ask.
        const auto all_processing = [&] {
            return std::all_of(sessions.begin(), sessions.end(),
                               [](const etw::trace_session* session) { return session->processing(); });
        };
        while (!stop_requested.load() && !failures.any() && !all_processing())
            wait_for_wake_up(session_start_poll);
        if (!stop_requested.load() && !failures.any())
            hooks.sessions_running();
    }
    session_guard guard({sessions.begin(), sessions.end()},
                        {{file_provider->guid, "Microsoft-Windows-Kernel-File"},
                         {process_provider->guid, "Microsoft-Windows-Kernel-Process"}},
                        restores);
    if (status == 0) {
        auto next_status = std::chrono::steady_clock::now() + settings.status_interval;
        // Woken by Ctrl+C or a failing session, else only to read the counters
        // and to see that nobody changed the sessions.
        while (!stop_requested.load() && !failures.any()) {
            wait_for_wake_up(loss_check_interval);
            losses.check();
            if (auto failure = guard.check())
                failures.record(std::move(*failure));
            if (agent.speaking() && std::chrono::steady_clock::now() >= next_status) {
                agent.say([&ledger] { return status_message(ledger.figures()); });
                next_status += settings.status_interval;
            }
        }
        write_interrupt_lines();
        console::write_line("stopping traces...", true);
    }
    if (hooks.stopping)
        hooks.stopping();

    // A stop that reaches a session still starting is kept by it, so no thread
    // is left processing after this.
    shutting_down.store(true);
    if (!stop_all(sessions))
        status = 1;
    for (std::thread& thread : threads) {
        if (thread.joinable())
            thread.join();
    }
    announce_sessions_stopped();
    write_interrupt_lines(); // those taken while stopping
    if (const auto failure = failures.first()) {
        console::write_error_line("tallowick: " + *failure);
        status = 1;
    }
    pending->finish(); // queues what still waits, the sessions stopped
    const std::size_t unnamed = pending->unnamed();
    pending.reset();
    // After the console's close Windows ends the process soon: what the
    // budget leaves queued is named, not lost unnoticed.
    const auto deadline = close_deadline();
    if (deadline) {
        if (const std::size_t unsent = pool->drain_until(*deadline - close_budget / console_share)) {
            ledger.events_not_reported(unsent);
            console::write_error_line("tallowick: the stop's time ran out: " + std::to_string(unsent) +
                                      " queued events were not reported");
        }
    }
    pool.reset(); // runs every queued task first
    losses.check_final();
    // The last datagram of the run, with the figures of all before it.
    agent.say([&ledger] { return stopped_message(ledger.figures()); });
    // The summary comes once standard output is done with, so that it counts
    // the lines dropped there; standard error still writes it on its own thread.
    const auto patience =
        deadline ? std::clamp(std::chrono::duration_cast<std::chrono::milliseconds>(
                                  *deadline - std::chrono::steady_clock::now()),
                              std::chrono::milliseconds(0), std::chrono::milliseconds(exit_patience))
                 : std::chrono::milliseconds(exit_patience);
    console.finish(patience, [&] {
        // A run that failed before anything happened ends with its one line.
        ledger_figures figures = ledger.figures();
        figures.sessions_restored = restores.count();
        if (status == 0 || figures.anything()) {
            for (const std::string& line : run_summary(figures))
                console::write_error_line(line);
        }
        // Not lost: sent, as "UNKNOWN"; said here so that it is counted, not hidden.
        if (unnamed != 0)
            console::write_error_line("tallowick: run summary: file events sent as UNKNOWN after waiting "
                                      "for the kernel session: " +
                                      std::to_string(unnamed));
    });
    announce_run_finished();
    return status;
}

} // namespace tallowick::app
