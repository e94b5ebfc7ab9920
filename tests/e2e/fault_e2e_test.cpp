// The real tallowick binary when things go wrong around it: Ctrl+C at awkward
// moments, a collector that is missing or never reads, a machine out of trace
// sessions. Each run must end with the right status and lines, never hang.
#include "support/run_process.h"
#include "support/running_process.h"
#include "support/udp_receiver.h"
#include "text_lines.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

namespace tallowick::testing {
namespace {

#if defined(__SANITIZE_THREAD__)
constexpr bool thread_sanitizer_build = true;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
constexpr bool thread_sanitizer_build = true;
#else
constexpr bool thread_sanitizer_build = false;
#endif
#else
constexpr bool thread_sanitizer_build = false;
#endif

const std::string agent = TALLOWICK_AGENT_PATH;
// Far beyond any run here: reaching it means the agent hung.
constexpr std::chrono::seconds run_limit{60};

const std::string machine_parts = R"(
    "accounts": [{"sid": "S-1-5-21-7-8-9-1001", "name": "alice", "domain": "HOST"}],
    "processes": [{"pid": 100, "image": "\\Device\\HarddiskVolume3\\Tools\\editor.exe", "user_sid": "S-1-5-21-7-8-9-1001"}],
    "files": [{"path": "C:\\Users\\alice\\report.docx", "type": "file"}])";

// A reportable document open of the editor, as a step.
std::string report_opened(int share_access = 1) {
    return R"({"file_open": {"pid": 100, "name": "\\Device\\HarddiskVolume3\\Users\\alice\\report.docx", "share_access": )" +
           std::to_string(share_access) + "}}";
}
const std::string report_read_line =
    "READ C:\\Users\\alice\\report.docx FILE C:\\Tools\\editor.exe 100 alice";
const std::string report_read =
    R"({"id":12,"proc":100,"Operation":"READ","Filename":"C:\\Users\\alice\\report.docx","Path_Type":"FILE","Process_Name":"C:\\Tools\\editor.exe","Process_Owner":"alice","Event_Type":"FILESYSTEM"})";

// Voluntary context switches of all the process's threads, or -1.
long voluntary_switches(int pid) {
    long total = 0;
    std::error_code error;
    for (const auto& task :
         std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", error)) {
        std::ifstream status(task.path() / "status");
        for (std::string line; std::getline(status, line);) {
            if (line.starts_with("voluntary_ctxt_switches:"))
                total += std::stol(line.substr(line.find(':') + 1));
        }
    }
    return error ? -1 : total;
}

std::size_t count_of(const std::vector<std::string>& lines, const std::string& line) {
    return static_cast<std::size_t>(std::count(lines.begin(), lines.end(), line));
}

const std::string caught_line = "Caught interrupt signal...";

// `presses` Ctrl+C ended the run with one stop: each interrupt line comes once
// per signal (signals sent back to back may arrive as one; a late one may come
// after the stop began), the first before the one "stopping traces...".
void expect_stopped_once(const std::vector<std::string>& console, int presses) {
    const std::size_t caught = count_of(console, caught_line);
    EXPECT_TRUE(caught >= 1 && caught <= static_cast<std::size_t>(presses)) << caught;
    ASSERT_EQ(count_of(console, "stopping traces..."), 1u);
    EXPECT_LT(std::find(console.begin(), console.end(), caught_line) - console.begin(),
              std::find(console.begin(), console.end(), "stopping traces...") - console.begin());
}

class FaultEndToEnd : public ::testing::Test {
  protected:
    // Writes a scenario of `machine` (members of the machine object) and
    // `steps` (comma-separated), and returns the agent's environment for it.
    std::vector<std::string> scenario(const std::string& machine, const std::string& steps) {
        std::ofstream(scenario_path, std::ios::binary)
            << R"({"format": 1, "machine": {)" << machine << R"(}, "steps": [)" << steps << "]}";
        return {"TALLOWICK_SIM_SCENARIO=" + scenario_path};
    }

    // The run's end, checked not to have hung.
    static process_result finish(running_process& running) {
        const process_result result = running.wait(run_limit);
        EXPECT_FALSE(running.hung()) << "the agent did not end: " << result.out;
        return result;
    }

    void TearDown() override { std::remove(scenario_path.c_str()); }

    std::string scenario_path = ::testing::TempDir() + "tallowick-fault-scenario.json";
};

// Ctrl+C while every session is still starting (the machine takes seconds to
// start each): the stops must reach the sessions still on their way, so no
// thread is left processing and the agent leaves with 0; once or twice pressed,
// alike. The stops come one after another, so a session whose start ends
// before its own stop may still take the step's record: then it is reported
// whole, like any other.
TEST_F(FaultEndToEnd, InterruptWhileTheSessionsAreStillStartingEndsCleanly) {
    for (const int presses : {1, 2}) {
        SCOPED_TRACE(presses);
        udp_receiver receiver;
        running_process running(
            agent, {}, scenario(machine_parts + R"(, "session_start_delay_ms": 2000)", report_opened()));
        ASSERT_TRUE(running.wait_for_line("starting traces...", run_limit));
        for (int i = 0; i < presses; ++i)
            running.send_signal(SIGINT);
        const process_result result = finish(running);

        EXPECT_EQ(result.exit_status, 0) << result.err;
        EXPECT_EQ(without_run_summary(result.err), "");
        const std::vector<std::string> console = lines_of(result.out);
        ASSERT_GE(console.size(), 3u) << result.out;
        EXPECT_EQ(console.front(), "starting traces...");
        expect_stopped_once(console, presses);
        ASSERT_GE(console.size(), 2 + count_of(console, caught_line)) << result.out;
        const std::size_t event_lines = console.size() - 2 - count_of(console, caught_line);
        EXPECT_LE(event_lines, 1u) << result.out;
        EXPECT_EQ(receiver.receive_pending().size(), event_lines);
    }
}

// Ctrl+C pressed twice while records flow, or the agent told to end (kill,
// a closed terminal): one orderly stop, status 0, the queue sent.
TEST_F(FaultEndToEnd, InterruptOrTerminationTwiceWhileRunningStopsOnce) {
    for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signal_number);
        udp_receiver receiver;
        running_process running(agent, {}, scenario(machine_parts, report_opened()));
        ASSERT_TRUE(running.wait_for_line(report_read_line, run_limit));
        running.send_signal(signal_number);
        running.send_signal(signal_number);
        const process_result result = finish(running);

        EXPECT_EQ(result.exit_status, 0) << result.err;
        EXPECT_EQ(without_run_summary(result.err), "");
        expect_stopped_once(lines_of(result.out), 2);
        EXPECT_EQ(receiver.receive_pending(), std::vector<std::string>{report_read});
    }
}

// Another administrator stops one of our sessions, switches our provider off
// or narrows it, or clears the kernel flags: the agent puts it right, says so
// in one line, and what the change would have silenced 3 s later arrives.
TEST_F(FaultEndToEnd, ASessionChangedFromOutsideIsRestoredAndSeesWhatFollows) {
    const std::string process_started =
        R"({"process_start": {"pid": 300, "parent_pid": 100, "image_file_name": "tool.exe", "command_line": "tool.exe -x",
           "user_sid": "S-1-5-21-7-8-9-1001", "image": "\\Device\\HarddiskVolume3\\Tools\\tool.exe"}})";
    const std::string tool_started =
        R"({"Parent_Process_Name":"c:\\tools\\editor.exe","Operation":"PROCESS STARTED","Process_Name":"tool.exe","Process_ID":300,"Parent_Process_ID":100,"Command_Line":"tool.exe -x","Event_Type":"PROCESS","User":"alice","User_SID":"S-1-5-21-7-8-9-1001"})";
    const std::string session = "tallowick: trace session Velmar_Trace_";
    struct outside_case {
        const char* what;
        std::string outside; // the step's body
        std::string follows; // 3 s later
        std::string arrives;
        std::string line; // on standard error, from its start
    };
    const outside_case cases[] = {
        {"the file session stopped", R"({"stop_session": "Velmar_Trace_FileKernel"})", report_opened(),
         report_read, session + "FileKernel: was stopped from outside; started again"},
        {"the kernel session stopped", R"({"stop_session": "Velmar_Trace_WindowsKernel"})", process_started,
         tool_started, session + "WindowsKernel: was stopped from outside; started again"},
        {"the process session stopped", R"({"stop_session": "Velmar_Trace_ProcessThreadKernel"})",
         report_opened(), report_read,
         session + "ProcessThreadKernel: was stopped from outside; started again"},
        {"the file provider disabled",
         R"({"disable_provider": {"session": "Velmar_Trace_FileKernel", "provider": "Microsoft-Windows-Kernel-File"}})",
         report_opened(), report_read,
         session + "FileKernel: provider Microsoft-Windows-Kernel-File is no longer enabled; enabled again"},
        {"the file provider narrowed, named by its GUID",
         R"({"enable_provider": {"session": "Velmar_Trace_FileKernel", "provider": "EDD08927-9CC4-4E65-B970-C2560FB5C289",
             "any_keywords": "0x10", "level": 4}})",
         report_opened(), report_read,
         session + "FileKernel: provider Microsoft-Windows-Kernel-File was narrowed to level 4, keywords "
                   "0x10 (ours: "},
        {"the kernel flags cleared",
         R"({"set_enable_flags": {"session": "Velmar_Trace_WindowsKernel", "flags": 0}})", process_started,
         tool_started,
         session + "WindowsKernel: has enable flags 0x00000000 where 0x00000001 are needed; enable flags set "
                   "again"},
        {"the process provider disabled",
         R"({"disable_provider": {"session": "Velmar_Trace_ProcessThreadKernel", "provider": "Microsoft-Windows-Kernel-Process"}})",
         report_opened(), report_read,
         session + "ProcessThreadKernel: provider Microsoft-Windows-Kernel-Process is no longer enabled; "
                   "enabled again"},
    };
    for (const outside_case& test : cases) {
        SCOPED_TRACE(test.what);
        udp_receiver receiver;
        const process_result result = run_process(
            agent, {},
            scenario(machine_parts, R"({"outside": )" + test.outside + R"(}, {"delay_ms": 3000, )" +
                                        test.follows.substr(1, test.follows.size() - 2) +
                                        R"(}, {"interrupt": {}})"));

        EXPECT_EQ(result.exit_status, 0) << result.err;
        const std::vector<std::string> errors = lines_of(without_run_summary(result.err));
        EXPECT_EQ(errors.size(), 1u) << result.err;
        EXPECT_TRUE(!errors.empty() && errors[0].starts_with(test.line)) << result.err;
        EXPECT_NE(result.err.find("tallowick: run summary: sessions restored: 1\n"), std::string::npos)
            << result.err;
        EXPECT_EQ(receiver.receive_pending(), std::vector<std::string>{test.arrives});
        EXPECT_EQ(lines_of(result.out).size(), 4u) << result.out; // start, the event, Ctrl+C, stop
    }
}

// What the agent sends goes nowhere useful; it must neither notice nor stall.
// `reader` sets up the other end of 127.0.0.1:13251 for the run.
struct collector_case {
    const char* name;
    bool bound; // a socket holds the port without ever reading it
};

void PrintTo(const collector_case& c, std::ostream* out) {
    *out << c.name;
}

class CollectorFaultEndToEnd : public FaultEndToEnd, public ::testing::WithParamInterface<collector_case> {};

TEST_P(CollectorFaultEndToEnd, AgentSendsEverythingAndExitsCleanly) {
    namespace asio = boost::asio;
    asio::io_context context;
    asio::ip::udp::socket deaf(context);
    if (GetParam().bound) {
        deaf.open(asio::ip::udp::v4());
        // As small as the system allows, so it is full after a few datagrams.
        deaf.set_option(asio::socket_base::receive_buffer_size(1));
        deaf.bind({asio::ip::make_address("127.0.0.1"), 13251});
    }
    constexpr int events = 200;
    std::string steps;
    for (int i = 0; i < events; ++i)
        steps += report_opened() + ",";
    const process_result result =
        run_process(agent, {}, scenario(machine_parts, steps + R"({"interrupt": {}})"));

    EXPECT_EQ(result.exit_status, 0) << result.err;
    EXPECT_EQ(without_run_summary(result.err), "");
    const std::vector<std::string> console = lines_of(result.out);
    // Every event was handled to its end: no send stalled or failed.
    EXPECT_EQ(count_of(console, report_read_line), static_cast<std::size_t>(events));
    // Queued work drains after the stop, so its lines may follow.
    EXPECT_EQ(console.size(), events + 3u) << result.out;
    EXPECT_EQ(count_of(console, "stopping traces..."), 1u);
}

INSTANTIATE_TEST_SUITE_P(Collector, CollectorFaultEndToEnd,
                         ::testing::Values(collector_case{"NobodyListens", false},
                                           collector_case{"ListenerNeverReads", true}),
                         [](const auto& info) { return std::string(info.param.name); });

// Standard output that fails (a full device, closed): every event still goes
// out, and every console line thrown away is counted, none silently.
struct console_case {
    const char* name;
    const char* redirection; // of the agent's standard output, in shell words
};

void PrintTo(const console_case& c, std::ostream* out) {
    *out << c.name;
}

class ConsoleFaultEndToEnd : public FaultEndToEnd, public ::testing::WithParamInterface<console_case> {};

TEST_P(ConsoleFaultEndToEnd, EveryLineLostToAFailedOutputIsCounted) {
    udp_receiver receiver;
    constexpr int events = 50;
    std::string steps;
    for (int i = 0; i < events; ++i)
        steps += report_opened() + ",";
    const process_result result =
        run_process("/bin/sh", {"-c", std::string("exec \"$0\" ") + GetParam().redirection, agent},
                    scenario(machine_parts, steps + R"({"interrupt": {}})"));
    EXPECT_EQ(result.exit_status, 0) << result.err;
    EXPECT_EQ(receiver.receive_pending().size(), static_cast<std::size_t>(events));
    // "starting traces...", the events, the interrupt and "stopping traces...".
    const std::string lost = std::to_string(events + 3);
    EXPECT_NE(
        result.err.find("console lines dropped: " + lost + " (" + lost + " of them to a failed output)\n"),
        std::string::npos)
        << result.err;
    EXPECT_NE(
        result.err.find(
            "tallowick: standard output failed; its console lines are counted as dropped from now on\n"),
        std::string::npos)
        << result.err;
}

INSTANTIATE_TEST_SUITE_P(Console, ConsoleFaultEndToEnd,
                         ::testing::Values(console_case{"FullDevice", ">/dev/full"},
                                           console_case{"Closed", ">&-"}),
                         [](const auto& info) { return std::string(info.param.name); });

// Standard output nobody reads (a console in selection mode): the datagrams go
// on arriving, and once the output is read again every line comes, whole and
// in order, with nothing dropped since the burst fits the console's buffer.
TEST_F(FaultEndToEnd, BlockedStandardOutputHoldsUpNoDatagram) {
    constexpr int events = 3000; // ~200 KB of lines: far more than the pipe takes
    udp_receiver receiver;
    running_process running(
        agent, {},
        scenario(machine_parts, R"({"repeat": {"times": 3000, "steps": [)" + report_opened() + "]}}"),
        output_handling::held);
    for (int i = 0; i < events; ++i)
        ASSERT_EQ(receiver.receive(), report_read) << i << " datagrams came while the output was blocked";
    running.release_output();
    ASSERT_TRUE(running.wait_for_line(report_read_line, run_limit));
    running.send_signal(SIGINT);
    const process_result result = finish(running);

    EXPECT_EQ(result.exit_status, 0) << result.err;
    const std::vector<std::string> console = lines_of(result.out);
    EXPECT_EQ(count_of(console, report_read_line), static_cast<std::size_t>(events));
    EXPECT_EQ(console.front(), "starting traces...");
    EXPECT_NE(result.err.find("console lines dropped: 0\n"), std::string::npos) << result.err;
}

// Standard output and error in one pipe nobody reads (a console whose text is
// being selected blocks both), a burst the trace session loses part of, so a
// loss line is due while nothing is written: Ctrl+C still ends the run in order,
// within the exit's bounded wait (what was never written is lost with the pipe).
TEST_F(FaultEndToEnd, AConsoleNobodyReadsHoldsUpNoStop) {
    udp_receiver receiver;
    running_process running(agent, {},
                            scenario(machine_parts + R"(, "delivery": "real_time")",
                                     R"({"repeat": {"times": 100000, "steps": [)" + report_opened() + "]}}"),
                            output_handling::held_with_errors);
    std::size_t received = 0;
    while (receiver.receive(std::chrono::seconds(1)))
        ++received;
    ASSERT_GT(received, 0u);
    // Past the next check of the lost-event counters, whose line finds the pipe full.
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    running.send_signal(SIGINT);
    EXPECT_TRUE(running.wait_for_exit(std::chrono::seconds(10))) << "Ctrl+C waited for the console";
    const process_result result = finish(running);

    EXPECT_EQ(result.exit_status, 0);
}

// `tallowick | head -1`: standard output's reader goes after the first line.
// The run goes on to its ordered stop, every datagram is sent, and the lines
// that found no reader are counted.
TEST_F(FaultEndToEnd, AConsoleReaderThatLeavesCostsLinesNeverDatagrams) {
    constexpr int events = 2000;
    udp_receiver receiver;
    running_process running(agent, {},
                            scenario(machine_parts, R"({"repeat": {"times": 2000, "steps": [)" +
                                                        report_opened() + R"(]}}, {"interrupt": {}})"),
                            output_handling::closed_after_a_line);
    for (int i = 0; i < events; ++i)
        ASSERT_EQ(receiver.receive(), report_read) << i;
    const process_result result = finish(running);

    EXPECT_EQ(result.exit_status, 0) << result.err;
    EXPECT_EQ(lines_of(result.out).front(), "starting traces...");
    EXPECT_NE(result.err.find("tallowick: standard output failed; its console lines are counted as dropped "
                              "from now on\n"),
              std::string::npos)
        << result.err;
    EXPECT_EQ(result.err.find("console lines dropped: 0\n"), std::string::npos) << result.err;
    EXPECT_TRUE(receiver.receive_pending().empty());
}

// Idle, the agent does not poll: over two seconds its threads together are
// woken only a few times (the lost-event check, the player's end).
TEST_F(FaultEndToEnd, AnIdleAgentIsAlmostNeverWoken) {
    if (thread_sanitizer_build)
        GTEST_SKIP() << "the thread sanitizer's own thread wakes the process ten times a second";
    running_process running(agent, {}, scenario(machine_parts, report_opened()));
    ASSERT_TRUE(running.wait_for_line(report_read_line, run_limit));
    const auto switches = [&] { return voluntary_switches(running.pid()); };
    const long before = switches();
    ASSERT_GE(before, 0);
    // The measurement is the wait itself: a count over a stretch of idleness.
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const long woken = switches() - before;
    running.send_signal(SIGINT);
    finish(running);
    EXPECT_LE(woken, 10) << "voluntary context switches in 2 s of idleness";
}

// No trace session left on the machine for one or all of ours (foreign
// sessions count): one line names a session and the error, the rest are
// stopped, status 1, with no Ctrl+C needed. Which of ours misses out depends on
// the threads' race, so no step plays: the others may process for a moment.
TEST_F(FaultEndToEnd, NoTraceSessionsLeftEndsWithOneLineAndStatusOne) {
    for (const std::string machine :
         {R"("trace_session_limit": 0)", R"("trace_session_limit": 2)",
          R"("trace_session_limit": 3, "running_sessions": [{"name": "Someone Else's Session"}])"}) {
        SCOPED_TRACE(machine);
        const process_result result = run_process(agent, {}, scenario(machine, ""));

        EXPECT_EQ(result.exit_status, 1);
        const std::vector<std::string> errors = lines_of(result.err);
        ASSERT_EQ(errors.size(), 1u) << result.err;
        EXPECT_TRUE(errors[0].starts_with("tallowick: trace session Velmar_Trace_")) << errors[0];
        EXPECT_NE(errors[0].find(": No more trace sessions available."), std::string::npos) << errors[0];
        EXPECT_EQ(lines_of(result.out),
                  (std::vector<std::string>{"starting traces...", "stopping traces..."}));
    }
}

} // namespace
} // namespace tallowick::testing
