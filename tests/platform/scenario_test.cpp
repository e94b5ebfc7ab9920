#include "platform/simulated/scenario.h"
#include "platform/windows_facts.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace tallowick::platform::simulated {
namespace {

std::string error_of(const std::string& json) {
    try {
        parse_scenario(json);
    } catch (const scenario_error& error) {
        return error.what();
    }
    return "(no error)";
}

TEST(Scenario, MinimalScenarioGetsTheDefaultMachine) {
    const scenario parsed = parse_scenario(R"({"format": 1})");
    EXPECT_TRUE(parsed.steps.empty());
    EXPECT_TRUE(parsed.machine.admin);
    EXPECT_EQ(parsed.machine.trace_session_limit, 64u);
    EXPECT_EQ(parsed.machine.session_start_delay_ms, 0u);
    EXPECT_EQ(parsed.machine.delivery, delivery_mode::synchronous);
    ASSERT_EQ(parsed.machine.providers.size(), 2u);
    EXPECT_EQ(parsed.machine.providers[0].name, "Microsoft-Windows-Kernel-File");
    EXPECT_EQ(parsed.machine.providers[0].guid.Data1, 0xEDD08927u);
    EXPECT_EQ(parsed.machine.providers[0].guid.Data4[7], 0x89u);
    ASSERT_EQ(parsed.machine.inventory.volumes.size(), 1u);
    EXPECT_EQ(parsed.machine.inventory.volumes[0].device, "\\Device\\HarddiskVolume3\\");
    EXPECT_EQ(parsed.machine.inventory.accounts.size(), 3u);
    EXPECT_FALSE(parsed.machine.older_than_windows8());
}

TEST(Scenario, ReadsMachineAndEveryStepKind) {
    const scenario parsed = parse_scenario(R"({
      "format": 1,
      "machine": {
        "windows_version": "6.1", "admin": false, "trace_session_limit": 3, "session_start_delay_ms": 250, "delivery": "real_time",
        "agent_user_sid": "S-1-5-21-1-2-3-1001", "debug_privilege": false,
        "running_sessions": [{"name": "Velmar_Trace_FileKernel", "stop_status": 5, "clock_ahead_ms": 1500}],
        "accounts": [{"sid": "S-1-5-21-1-2-3-1001", "name": "alice", "domain": "DESKTOP-1"}],
        "processes": [{"pid": 4242, "image": "\\Device\\HarddiskVolume3\\Windows\\notepad.exe",
                       "user_sid": "S-1-5-21-1-2-3-1001", "access": "limited", "parent_pid": 600,
                       "command_line": "notepad a.txt"}],
        "files": [{"path": "C:\\Users", "type": "dir"}]
      },
      "steps": [
        {"file_open": {"pid": 4242, "name": "\\Device\\HarddiskVolume3\\a.txt", "share_access": 3}},
        {"file_delete": {"pid": 4242, "name": "x", "version": 0}, "delay_ms": 5},
        {"process_start": {"pid": 9, "parent_pid": 8, "image_file_name": "cmd.exe", "command_line": "cmd",
                           "user_sid": "S-1-5-18", "image": "\\Device\\HarddiskVolume3\\cmd.exe"}},
        {"process_end": {"pid": 9, "image_file_name": "cmd.exe", "user_sid": ""}},
        {"record": {"provider": "kernel_process", "opcode": 3, "keywords": "0x10", "header_flags": 32,
                    "schema": "unknown", "truncate": 3,
                    "properties": [{"name": "ProcessId", "type": "uint32", "value": 4294967295},
                                   {"name": "Delta", "type": "int32", "value": -2},
                                   {"name": "UserSID", "type": "wbemsid", "value": "S-1-5-18"},
                                   {"name": "Blob", "type": "bytes", "value": "00ff"}]}},
        {"interrupt": {}},
        {"volume_mount": {"device": "\\Device\\HarddiskVolume8\\", "root": "E:\\"}},
        {"hold": {"session": "Velmar_Trace_WindowsKernel"}},
        {"release": {"session": "Velmar_Trace_WindowsKernel"}},
        {"outside": {"stop_session": "Velmar_Trace_FileKernel"}},
        {"outside": {"enable_provider": {"session": "S", "provider": "microsoft-windows-kernel-FILE",
                                         "any_keywords": "0x10", "level": 2}}},
        {"outside": {"disable_provider": {"session": "S", "provider": "22FB2CD6-0E7B-422B-A0C7-2FAD1FD0E716"}}},
        {"outside": {"set_enable_flags": {"session": "K", "flags": 0}}}
      ]})");
    EXPECT_TRUE(parsed.machine.older_than_windows8());
    EXPECT_EQ(parsed.machine.inventory.agent_user_sid, "S-1-5-21-1-2-3-1001");
    EXPECT_FALSE(parsed.machine.inventory.debug_privilege);
    EXPECT_FALSE(parsed.machine.admin);
    EXPECT_EQ(parsed.machine.session_start_delay_ms, 250u);
    EXPECT_EQ(parsed.machine.delivery, delivery_mode::real_time);
    EXPECT_EQ(parsed.machine.running_sessions.at(0).stop_status, 5u);
    EXPECT_EQ(parsed.machine.inventory.accounts.size(), 1u); // a given list replaces the default
    EXPECT_EQ(parsed.machine.inventory.processes.at(0).access, process_access::limited);
    EXPECT_EQ(parsed.machine.inventory.files.at(0).type, file_type::dir);
    ASSERT_EQ(parsed.steps.size(), 13u);
    EXPECT_EQ(parsed.machine.running_sessions.at(0).clock_ahead_ms, 1500u);
    EXPECT_EQ(parsed.machine.inventory.processes.at(0).parent_pid, 600u);
    EXPECT_EQ(parsed.machine.inventory.processes.at(0).command_line, "notepad a.txt");
    EXPECT_TRUE(std::get<session_hold_step>(parsed.steps[7].action).hold);
    EXPECT_FALSE(std::get<session_hold_step>(parsed.steps[8].action).hold);
    EXPECT_EQ(std::get<session_hold_step>(parsed.steps[8].action).session, "Velmar_Trace_WindowsKernel");
    const auto outside = [&](std::size_t index) {
        return std::get<outside_step>(parsed.steps.at(index).action);
    };
    EXPECT_EQ(outside(9).what, outside_step::act::stop_session);
    EXPECT_EQ(outside(9).session, "Velmar_Trace_FileKernel");
    EXPECT_EQ(outside(10).what, outside_step::act::enable_provider);
    EXPECT_EQ(outside(10).provider.Data1, 0xEDD08927u); // a name of the machine's providers, in any case
    EXPECT_EQ(outside(10).any_keywords, 0x10u);
    EXPECT_EQ(outside(10).level, 2u);
    EXPECT_EQ(outside(11).what, outside_step::act::disable_provider);
    EXPECT_EQ(outside(11).provider.Data1, 0x22FB2CD6u);
    EXPECT_EQ(outside(12).what, outside_step::act::set_enable_flags);
    EXPECT_EQ(outside(12).flags, 0u);
    EXPECT_EQ(std::get<volume_mount_step>(parsed.steps[6].action).volume.root, "E:\\");
    EXPECT_EQ(std::get<file_event>(parsed.steps[0].action).share_access, 3u);
    EXPECT_EQ(std::get<file_event>(parsed.steps[0].action).name, u"\\Device\\HarddiskVolume3\\a.txt");
    EXPECT_EQ(std::get<file_event>(parsed.steps[1].action).id, 26u);
    EXPECT_EQ(std::get<file_event>(parsed.steps[1].action).version, 0u);
    EXPECT_EQ(parsed.steps[1].delay_ms, 5u);
    const auto& start = std::get<process_start_step>(parsed.steps[2].action);
    EXPECT_TRUE(start.image.has_value());
    EXPECT_EQ(start.event.opcode, 1u);
    EXPECT_EQ(start.event.parent_id, 8u);
    EXPECT_EQ(std::get<process_end_step>(parsed.steps[3].action).event.user_sid, ""); // no SID
    EXPECT_EQ(std::get<process_end_step>(parsed.steps[3].action).event.opcode, 2u);
    const auto& record = std::get<record_description>(parsed.steps[4].action);
    EXPECT_EQ(record.header.provider.Data1, 0x3D6FA8D0u);
    EXPECT_FALSE(record.schema_known);
    EXPECT_EQ(record.header.keywords, 0x10u);
    EXPECT_EQ(record.header.flags, 32u);
    EXPECT_EQ(record.header.level, 4u);
    EXPECT_EQ(record.truncate, 3u);
    EXPECT_EQ(record.properties.at(0).number, 4294967295u);
    EXPECT_EQ(record.properties.at(1).number, 0xFFFFFFFEu);
    EXPECT_EQ(record.properties.at(2).narrow, "S-1-5-18");
    EXPECT_EQ(record.properties.at(3).bytes, (std::vector<std::byte>{std::byte{0}, std::byte{0xff}}));
    EXPECT_TRUE(std::holds_alternative<interrupt_step>(parsed.steps[5].action));
}

TEST(Scenario, ErrorsNameThePlaceAndTheProblem) {
    struct example {
        std::string json;
        const char* message;
    };
    // Nesting far beyond what a recursive reader's stack holds.
    const std::string opening(200'000, '['), closing(200'000, ']');
    const example examples[] = {
        {R"({"format": 2})", "/format: must be 1"},
        {R"({})", "/format: required"},
        {R"({"format": 1, "machin": {}})", "/machin: unknown key"},
        {R"({"format": 1, "machine": {"admin": "yes"}})", "/machine/admin: expected true or false"},
        {R"({"format": 1, "machine": {"windows_version": "10"}})", "/machine/windows_version: expected"},
        {R"({"format": 1, "machine": {"delivery": "async"}})", "/machine/delivery: expected"},
        {R"({"format": 1, "machine": {"session_start_delay_ms": 1.5}})",
         "/machine/session_start_delay_ms: expected a whole number"},
        {R"({"format": 1, "machine": {"processes": [{"pid": -1, "image": "x"}]}})",
         "/machine/processes/0/pid:"},
        {R"({"format": 1, "machine": {"processes": [{"pid": 1, "image": "x", "access": "some"}]}})",
         "/machine/processes/0/access"},
        {R"({"format": 1, "machine": {"agent_user_sid": "alice"}})",
         "/machine/agent_user_sid: expected a SID"},
        {R"({"format": 1, "steps": [{"volume_mount": {"device": "\\Device\\HarddiskVolume8\\"}}]})",
         "/steps/0/volume_mount/root: required"},
        {R"({"format": 1, "steps": [{"outside": {}}]})", "/steps/0/outside: an outside step needs one of"},
        {R"({"format": 1, "steps": [{"outside": {"stop_session": "A", "set_enable_flags": {}}}]})",
         "/steps/0/outside: an outside step does exactly one thing"},
        {R"({"format": 1, "steps": [{"outside": {"disable_provider": {"session": "A", "provider": "Nobody"}}}]})",
         "/steps/0/outside/disable_provider/provider: expected a GUID or the name of a provider"},
        {R"({"format": 1, "steps": [{"outside": {"set_enable_flags": {"session": "A"}}}]})",
         "/steps/0/outside/set_enable_flags/flags: required"},
        {R"({"format": 1, "steps": [{"outside": {"enable_provider": {"session": "A", "provider": "Microsoft-Windows-Kernel-File", "level": 4}}}]})",
         "/steps/0/outside/enable_provider/any_keywords: required"},
        {R"({"format": 1, "steps": [{"outside": {"stop_session": "A", "delay": 1}}]})",
         "/steps/0/outside/delay: unknown key"},
        {R"({"format": 1, "steps": [{"hold": {}}]})", "/steps/0/hold/session: required"},
        {R"({"format": 1, "machine": {"providers": [{"name": "a", "guid": "{EDD08927-9CC4-4E65-B970-C2560FB5C289}"}]}})",
         "/machine/providers/0/guid"},
        {R"({"format": 1, "steps": [{"file_open": {"pid": 1, "name": "x"}}]})",
         "/steps/0/file_open/share_access: required"},
        {R"({"format": 1, "steps": [{"file_open": {"pid": 1, "name": "x", "share_access": 1, "shared": 1}}]})",
         "/steps/0/file_open/shared: unknown key"},
        {R"({"format": 1, "steps": [{"interrupt": {}, "file_open": {}}]})",
         "/steps/0: a step has exactly one"},
        {R"({"format": 1, "steps": [{"delay_ms": 3}]})", "/steps/0: a step needs one of"},
        {R"({"format": 1, "steps": [{"record": {"provider": "kernel"}}]})", "/steps/0/record/provider"},
        {R"({"format": 1, "steps": [{"record": {"provider": "kernel_process", "properties": [{"name": "a", "type": "uint8", "value": 256}]}}]})",
         "/steps/0/record/properties/0/value: out of range"},
        {R"({"format": 1, "steps": [{"record": {"provider": "kernel_process", "properties": [{"name": "a", "type": "float", "value": 1}]}}]})",
         "/steps/0/record/properties/0/type"},
        {R"({"format": 1, "steps": [{"process_end": {"pid": 1, "image_file_name": "a", "user_sid": "S-1"}}]})",
         "/steps/0/process_end/user_sid"},
        {R"({"format": 1, "steps": [{"repeat": {"steps": [{"interrupt": {}}]}}]})",
         "/steps/0/repeat/times: required"},
        {R"({"format": 1, "steps": [{"repeat": {"times": 0, "steps": [{"interrupt": {}}]}}]})",
         "/steps/0/repeat/times: must be at least 1"},
        {R"({"format": 1, "steps": [{"repeat": {"times": 2, "steps": []}}]})",
         "/steps/0/repeat/steps: a repeat needs at least one step"},
        {R"({"format": 1, "steps": [{"repeat": {"times": 2, "steps": [{"interrupt": {}}], "step": []}}]})",
         "/steps/0/repeat/step: unknown key"},
        {R"({"format": 1, "steps": [{"repeat": {"times": 2, "steps": [{"file_open": {}}]}}]})",
         "/steps/0/repeat/steps/0/file_open/pid: required"},
        {R"({"format": 1, "steps": [)", "byte "},
        {R"({"format": 1, "steps": )" + opening + closing + "}", "/steps/0: expected an object"},
        {R"({"format": 1, "steps": [{"record": {"provider": "kernel_process", "pid": )" + opening + closing +
             "}}]}",
         "/steps/0/record/pid: expected a whole number"},
        {opening, "byte 200000: not valid JSON"},
    };
    for (const example& e : examples)
        EXPECT_NE(error_of(e.json).find(e.message), std::string::npos)
            << e.json.substr(0, 200) << " -> " << error_of(e.json);
}

TEST(Scenario, RepeatsNestUpToEightDeep) {
    const auto nested = [](int depth) {
        std::string steps = R"([{"interrupt": {}}])";
        for (int i = 0; i < depth; ++i)
            steps = R"([{"delay_ms": 1, "repeat": {"times": 3, "steps": )" + steps + "}}]";
        return R"({"format": 1, "steps": )" + steps + "}";
    };
    const scenario parsed = parse_scenario(nested(8));
    const step* inner = &parsed.steps.at(0);
    for (int i = 0; i < 8; ++i) {
        const auto& repeat = std::get<repeat_step>(inner->action);
        EXPECT_EQ(repeat.times, 3u);
        EXPECT_EQ(inner->delay_ms, 1u);
        ASSERT_EQ(repeat.steps.size(), 1u);
        inner = &repeat.steps[0];
    }
    EXPECT_TRUE(std::holds_alternative<interrupt_step>(inner->action));
    EXPECT_NE(error_of(nested(9)).find("repeats nest at most 8 deep"), std::string::npos)
        << error_of(nested(9));
}

TEST(Scenario, UnreadableFileIsNamed) {
    try {
        load_scenario_file("/nonexistent/demo.json");
        FAIL();
    } catch (const scenario_error& error) {
        EXPECT_NE(std::string(error.what()).find("/nonexistent/demo.json"), std::string::npos);
    }
}

TEST(Scenario, GuidText) {
    EXPECT_TRUE(parse_guid("3d6fa8d0-fe05-11d0-9dda-00c04fd7ba7c"));
    EXPECT_EQ(parse_guid("3d6fa8d0-fe05-11d0-9dda-00c04fd7ba7c")->Data2, 0xfe05u);
    for (const char* bad : {"", "3d6fa8d0fe0511d09dda00c04fd7ba7c", "3d6fa8d0-fe05-11d0-9dda-00c04fd7ba7g",
                            "+d6fa8d0-fe05-11d0-9dda-00c04fd7ba7c", "3d6fa8d0-fe05-11d0-9dda-00c04fd7ba7c0"})
        EXPECT_FALSE(parse_guid(bad)) << bad;
}

} // namespace
} // namespace tallowick::platform::simulated

namespace tallowick::platform::simulated {
namespace {

TEST(ScenarioFiles, EveryShippedScenarioLoads) {
    int loaded = 0;
    for (const auto& entry : std::filesystem::directory_iterator(TALLOWICK_SCENARIO_DIR)) {
        if (entry.path().extension() != ".json")
            continue;
        EXPECT_NO_THROW(load_scenario_file(entry.path().string())) << entry.path();
        ++loaded;
    }
    EXPECT_GT(loaded, 0);
}

} // namespace
} // namespace tallowick::platform::simulated
