#include "platform/simulated/simulated_machine.h"

#include "platform/trace_consumer.h"
#include "platform/windows_facts.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <string>
#include <vector>

namespace tallowick::platform::simulated {
namespace {

using testing::make_properties;
using testing::trace_consumer;
using namespace std::chrono_literals;

constexpr auto generous = 30s;

std::atomic<int> interrupts{0};
std::atomic<std::size_t> records_at_interrupt{0};
std::atomic<std::size_t> records_dispatched{0};

// The agent's two sessions that see records: the kernel logger with the process
// flag and a session with Kernel-File enabled, both processing.
struct agent_sessions {
    explicit agent_sessions(simulated_tracing& tracing) : kernel(tracing, u"Kernel"), file(tracing, u"File") {
        EXPECT_EQ(kernel.start(make_properties(0x12000100, 0x1)), 0u);
        EXPECT_EQ(file.start(), 0u);
        EXPECT_EQ(file.enable(kernel_file_provider, 5, 0, 0), 0u);
        EXPECT_TRUE(kernel.open());
        EXPECT_TRUE(file.open());
    }
    void process() {
        kernel.process();
        file.process();
    }
    trace_consumer kernel;
    trace_consumer file;
};

player_settings two_sessions() {
    player_settings settings;
    settings.sessions = 2;
    return settings;
}

TEST(ScenarioPlayer, PlaysTheStepsInOrderOnceTheSessionsProcess) {
    const scenario played = parse_scenario(R"({"format": 1, "steps": [
      {"process_start": {"pid": 4242, "parent_pid": 3012, "image_file_name": "WINWORD.EXE", "command_line": "w",
                         "user_sid": "S-1-5-18", "image": "\\Device\\HarddiskVolume3\\WINWORD.EXE"}},
      {"delay_ms": 5, "file_open": {"pid": 4242, "name": "\\Device\\HarddiskVolume3\\a.docx", "share_access": 1}},
      {"record": {"provider": "edd08927-9cc4-4e65-b970-c2560fb5c289", "id": 27}},
      {"record": {"provider": "22fb2cd6-0e7b-422b-a0c7-2fad1fd0e716", "id": 1}},
      {"delay_ms": 1, "process_end": {"pid": 4242, "image_file_name": "WINWORD.EXE"}},
      {"interrupt": {}}
    ]})");
    interrupts = 0;
    records_dispatched = 0;
    const auto previous = std::signal(SIGINT, [](int) {
        records_at_interrupt = records_dispatched.load();
        ++interrupts;
    });

    simulated_machine machine(played, two_sessions());
    agent_sessions sessions(machine.tracing());
    std::vector<bool> process_present;
    const auto count = [&](const EVENT_RECORD&) {
        const open_result opened = machine.system().open_process(process_query_limited_information, 4242);
        process_present.push_back(opened.handle != 0);
        if (opened.handle != 0)
            machine.system().close_handle(opened.handle);
        ++records_dispatched;
    };
    sessions.kernel.on_record = count;
    sessions.file.on_record = count;
    EXPECT_EQ(machine.player().steps_played(), 0u); // waits for both sessions
    sessions.process();

    ASSERT_TRUE(machine.player().wait_until_finished(generous));
    EXPECT_EQ(interrupts, 1);
    EXPECT_EQ(records_at_interrupt, 4u); // every earlier record was dispatched first
    std::signal(SIGINT, previous);

    const auto kernel = sessions.kernel.records();
    const auto file = sessions.file.records();
    ASSERT_EQ(kernel.size(), 2u);
    ASSERT_EQ(file.size(), 2u);
    EXPECT_EQ(kernel[0].opcode, 1);
    EXPECT_LT(kernel[0].sequence, file[0].sequence);
    EXPECT_EQ(file[0].id, 12);
    EXPECT_LT(file[0].sequence, file[1].sequence);
    EXPECT_EQ(file[1].id, 27);
    EXPECT_LT(file[1].sequence, kernel[1].sequence); // the Kernel-Process record went to no session
    EXPECT_EQ(kernel[1].opcode, 2);
    // The process exists from its start record to its end record, and not after.
    EXPECT_EQ(process_present, (std::vector<bool>{true, true, true, true}));
    EXPECT_EQ(machine.system().open_process(process_query_limited_information, 4242).last_error,
              error_invalid_parameter);
}

TEST(ScenarioPlayer, PlaysARepeatRoundAfterRound) {
    const scenario played = parse_scenario(R"({"format": 1, "steps": [
      {"repeat": {"times": 3, "steps": [
        {"file_open": {"pid": 4242, "name": "\\Device\\HarddiskVolume3\\a.docx", "share_access": 1}},
        {"repeat": {"times": 2, "steps": [{"file_delete": {"pid": 4242, "name": "b"}}]}}
      ]}},
      {"file_create": {"pid": 4242, "name": "c"}}
    ]})");
    simulated_machine machine(played, two_sessions());
    agent_sessions sessions(machine.tracing());
    sessions.process();

    ASSERT_TRUE(machine.player().wait_until_finished(generous));
    EXPECT_EQ(machine.player().steps_played(), 2u); // a repeat is one step, however many rounds
    std::vector<int> ids;
    for (const auto& record : sessions.file.records())
        ids.push_back(record.id);
    EXPECT_EQ(ids, (std::vector<int>{12, 26, 26, 12, 26, 26, 12, 26, 26, 30}));
}

TEST(ScenarioPlayer, StopsInTheMiddleOfADelay) {
    const scenario played = parse_scenario(R"({"format": 1, "steps": [
      {"file_open": {"pid": 4242, "name": "\\Device\\HarddiskVolume3\\a.docx", "share_access": 1}},
      {"delay_ms": 3600000, "file_open": {"pid": 4242, "name": "\\Device\\HarddiskVolume3\\b.docx", "share_access": 1}}
    ]})");
    auto machine = std::make_unique<simulated_machine>(played, two_sessions());
    agent_sessions sessions(machine->tracing());
    sessions.process();
    ASSERT_TRUE(machine->player().wait_until_played(1, generous));
    EXPECT_EQ(sessions.file.stop(), 0u);
    EXPECT_EQ(sessions.kernel.stop(), 0u);
    sessions.file.join();
    sessions.kernel.join();
    machine.reset(); // returns without waiting the hour
}

TEST(ScenarioPlayer, GivesUpOnASessionThatNeverProcesses) {
    const scenario played = parse_scenario(R"({"format": 1, "steps": [
      {"file_open": {"pid": 4242, "name": "\\Device\\HarddiskVolume3\\a.docx", "share_access": 1}},
      {"process_start": {"pid": 9, "parent_pid": 8, "image_file_name": "cmd.exe", "command_line": "cmd",
                         "user_sid": "S-1-5-18"}}
    ]})");
    std::vector<std::string> reports;
    player_settings settings;
    settings.sessions = 1;
    settings.patience = 20ms;
    settings.report = [&](std::string_view line) { reports.emplace_back(line); };
    simulated_machine machine(played, settings);
    agent_sessions sessions(machine.tracing());
    sessions.kernel.process(); // the file session never processes

    ASSERT_TRUE(machine.player().wait_until_finished(generous));
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0],
              "simulated machine: trace session File did not process records within 20 ms; step 0's "
              "record was not delivered to it");
    EXPECT_EQ(sessions.kernel.records().size(), 1u); // the next record still went out
}

TEST(ScenarioPlayer, StopsWhileWaitingForASessionToProcess) {
    const scenario played = parse_scenario(R"({"format": 1, "steps": [
      {"file_open": {"pid": 4242, "name": "\\Device\\HarddiskVolume3\\a.docx", "share_access": 1}}
    ]})");
    player_settings settings;
    settings.sessions = 1;
    settings.patience = 1h;
    auto machine = std::make_unique<simulated_machine>(played, settings);
    agent_sessions sessions(machine->tracing());
    sessions.kernel.process(); // the file session, which takes the record, never processes
    ASSERT_TRUE(machine->tracing().wait_for_processing(1, {}));
    EXPECT_EQ(sessions.kernel.stop(), 0u);
    sessions.kernel.join();
    machine.reset(); // returns without waiting the hour
}

TEST(SimulatedMachine, ReportsScenarioErrorsWithTheirSource) {
    const std::string too_long(2 * 70000, '0');
    const scenario oversized = parse_scenario(R"({"format": 1, "steps": [{"interrupt": {}},
      {"record": {"provider": "kernel_process", "properties": [{"name": "Blob", "type": "bytes", "value": ")" +
                                              too_long + R"("}]}}]})");
    EXPECT_THROW(
        {
            try {
                simulated_machine machine(oversized, {});
            } catch (const scenario_error& error) {
                EXPECT_EQ(error.place(), "/steps/1");
                throw;
            }
        },
        scenario_error);

    const scenario oversized_in_repeat = parse_scenario(R"({"format": 1, "steps": [{"repeat": {"times": 2,
      "steps": [{"interrupt": {}}, {"record": {"provider": "kernel_process", "properties": [{"name": "Blob",
      "type": "bytes", "value": ")" + too_long + R"("}]}}]}}]})");
    try {
        simulated_machine machine(oversized_in_repeat, {});
        ADD_FAILURE() << "no error";
    } catch (const scenario_error& error) {
        EXPECT_EQ(error.place(), "/steps/0/repeat/steps/1");
    }

    try {
        make_simulated_machine("/nonexistent/scenario.json", {});
        ADD_FAILURE() << "no error";
    } catch (const scenario_error& error) {
        EXPECT_STREQ(error.what(), "scenario file /nonexistent/scenario.json: cannot be read");
    }
    // The built-in demo is a valid scenario that ends with an interrupt.
    const scenario demo = parse_scenario(demo_scenario_text());
    ASSERT_FALSE(demo.steps.empty());
    EXPECT_TRUE(std::holds_alternative<interrupt_step>(demo.steps.back().action));
    EXPECT_NE(make_simulated_machine(nullptr, {}), nullptr);
}

} // namespace
} // namespace tallowick::platform::simulated
