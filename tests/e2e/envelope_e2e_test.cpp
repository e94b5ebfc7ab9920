// The real binary with --envelope and --max-datagram: what a collector needs to
// tell that something went missing, and datagrams that receivers take whole.
#include "collector/message_check.h"
#include "support/run_process.h"
#include "support/udp_receiver.h"

#include <gtest/gtest.h>
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace tallowick::testing {
namespace {

const std::string agent = TALLOWICK_AGENT_PATH;
const std::vector<std::string> envelope_keys = {"Event_Time", "Host", "Run_Id", "Sequence"};

struct sealed_message {
    std::string datagram;
    rapidjson::Document document;
    std::vector<std::string> keys; // in wire order

    std::string text(const char* key) const { return document[key].GetString(); }
    std::uint64_t number(const char* key) const { return document[key].GetUint64(); }
    // The message as it would be without the envelope.
    std::string unsealed() const {
        rapidjson::Document copy;
        copy.CopyFrom(document, copy.GetAllocator());
        for (const std::string& key : envelope_keys)
            copy.RemoveMember(key.c_str()); // the last members: the order of the rest stays
        copy.RemoveMember("Shortened");
        rapidjson::StringBuffer out;
        rapidjson::Writer<rapidjson::StringBuffer> writer(out);
        copy.Accept(writer);
        return {out.GetString(), out.GetSize()};
    }
};

class EnvelopeEndToEnd : public ::testing::Test {
  protected:
    // Runs the agent to its end on `scenario_json` and returns every datagram,
    // each checked as the reference collector checks it.
    std::vector<std::string> run(const std::vector<std::string>& args, const std::string& scenario_json) {
        std::ofstream(scenario_path, std::ios::binary) << scenario_json;
        process = run_process(agent, args, {"TALLOWICK_SIM_SCENARIO=" + scenario_path});
        EXPECT_EQ(process.exit_status, 0) << process.err;
        std::vector<std::string> datagrams = receiver.receive_pending();
        for (const std::string& datagram : datagrams) {
            const collector::check_result checked = collector::check_message(datagram);
            EXPECT_TRUE(checked.ok()) << checked.problem << ": " << datagram.substr(0, 300);
        }
        return datagrams;
    }

    // Parsed, in the order of their sequence numbers.
    static std::vector<sealed_message> by_sequence(const std::vector<std::string>& datagrams) {
        std::vector<sealed_message> messages(datagrams.size());
        for (std::size_t i = 0; i < datagrams.size(); ++i) {
            messages[i].datagram = datagrams[i];
            messages[i].document.Parse(datagrams[i].data(), datagrams[i].size());
            for (const auto& member : messages[i].document.GetObject())
                messages[i].keys.emplace_back(member.name.GetString());
        }
        std::sort(messages.begin(), messages.end(), [](const sealed_message& a, const sealed_message& b) {
            return a.number("Sequence") < b.number("Sequence");
        });
        return messages;
    }

    void TearDown() override { std::remove(scenario_path.c_str()); }

    udp_receiver receiver;
    process_result process;
    std::string scenario_path = ::testing::TempDir() + "tallowick-envelope-scenario.json";
};

// Every kind of message: a start, an open, a deletion, a rename and an end.
const std::string every_kind = R"({"format": 1,
  "machine": {
    "host_name": "ws-0042.corp.example",
    "accounts": [{"sid": "S-1-5-21-7-8-9-1001", "name": "alice", "domain": "HOST"}],
    "processes": [{"pid": 100, "image": "\\Device\\HarddiskVolume3\\Windows\\explorer.exe", "user_sid": "S-1-5-21-7-8-9-1001"}],
    "files": [{"path": "C:\\Users\\alice\\a.docx", "type": "file"}]},
  "steps": [
    {"process_start": {"pid": 200, "parent_pid": 100, "image_file_name": "editor.exe", "command_line": "editor a.docx",
      "user_sid": "S-1-5-21-7-8-9-1001", "image": "\\Device\\HarddiskVolume3\\Tools\\editor.exe"}},
    {"file_open": {"pid": 200, "name": "\\Device\\HarddiskVolume3\\Users\\alice\\a.docx", "share_access": 3}},
    {"file_rename": {"pid": 200, "name": "\\Device\\HarddiskVolume3\\Users\\alice\\a.docx"}},
    {"file_delete": {"pid": 200, "name": "\\Device\\HarddiskVolume3\\Users\\alice\\b.docx"}},
    {"process_end": {"pid": 200, "image_file_name": "editor.exe", "user_sid": "S-1-5-21-7-8-9-1001"}},
    {"interrupt": {}}]})";

TEST_F(EnvelopeEndToEnd, SealsEveryKindInOneSequenceFromStartedToStopped) {
    const std::vector<std::string> plain = run({"--path", "C:\\Users\\alice"}, every_kind);
    const std::vector<sealed_message> sealed =
        by_sequence(run({"--path", "C:\\Users\\alice", "--envelope"}, every_kind));
    ASSERT_EQ(sealed.size(), plain.size() + 2); // STARTED and STOPPED besides the events

    // One run, numbered 1..N without a gap, STARTED first and STOPPED last.
    for (std::size_t i = 0; i < sealed.size(); ++i) {
        const sealed_message& message = sealed[i];
        EXPECT_EQ(message.number("Sequence"), i + 1);
        ASSERT_GE(message.keys.size(), 6u);
        EXPECT_EQ(std::vector<std::string>(message.keys.end() - 4, message.keys.end()), envelope_keys)
            << message.datagram;
        EXPECT_EQ(message.text("Host"), "ws-0042.corp.example");
        EXPECT_EQ(message.text("Run_Id"), sealed[0].text("Run_Id"));
        // Made between the start and the stop, on the same clock.
        EXPECT_GE(message.text("Event_Time"), sealed.front().text("Event_Time"));
        EXPECT_LE(message.text("Event_Time"), sealed.back().text("Event_Time"));
    }
    const sealed_message& started = sealed.front();
    EXPECT_EQ(started.text("Event_Type"), "AGENT");
    EXPECT_EQ(started.text("Operation"), "STARTED");
    EXPECT_EQ(started.text("Monitored_Paths"), "\\Users\\alice");
    EXPECT_EQ(started.number("Max_Datagram"), 65507u);
    const sealed_message& stopped = sealed.back();
    EXPECT_EQ(stopped.text("Operation"), "STOPPED");
    EXPECT_EQ(stopped.number("Datagrams_Sent"), sealed.size() - 1);
    EXPECT_EQ(stopped.number("Agent_Sent"), 1u);
    EXPECT_EQ(stopped.number("File_System_Sent"), 3u);
    EXPECT_EQ(stopped.number("Process_Start_Sent"), 1u);
    EXPECT_EQ(stopped.number("Process_End_Sent"), 1u);
    EXPECT_EQ(stopped.number("Send_Failures"), 0u);

    // Take the envelope away and the events are byte for byte the plain run's.
    std::vector<std::string> unsealed;
    for (std::size_t i = 1; i + 1 < sealed.size(); ++i)
        unsealed.push_back(sealed[i].unsealed());
    std::vector<std::string> expected = plain;
    std::sort(unsealed.begin(), unsealed.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(unsealed, expected);
    EXPECT_EQ(std::count_if(
                  plain.begin(), plain.end(),
                  [](const std::string& datagram) { return datagram.find("Sequence") != std::string::npos; }),
              0);

    // Another run is another identity, counting from 1 again.
    const std::vector<sealed_message> again = by_sequence(run({"--envelope"}, every_kind));
    ASSERT_FALSE(again.empty());
    EXPECT_NE(again.front().text("Run_Id"), started.text("Run_Id"));
    EXPECT_EQ(again.front().number("Sequence"), 1u);
}

TEST_F(EnvelopeEndToEnd, MaxDatagramShortensToTheLimitAndTheEnvelopeMarksIt) {
    const std::string command_line(30000, 'x');
    const std::string scenario = R"({"format": 1,
      "machine": {"accounts": [{"sid": "S-1-5-21-7-8-9-1001", "name": "alice", "domain": "HOST"}]},
      "steps": [
        {"process_start": {"pid": 300, "parent_pid": 4, "image_file_name": "long.exe", "command_line": ")" +
                                 command_line + R"(", "user_sid": "S-1-5-21-7-8-9-1001"}},
        {"interrupt": {}}]})";
    struct row {
        std::vector<std::string> args;
        std::size_t limit;
        bool shortened;
        bool marked;
    };
    const row rows[] = {
        {{}, 65507, false, false},
        {{"--max-datagram", "8192"}, 8192, true, false},
        {{"--max-datagram", "8192", "--envelope"}, 8192, true, true},
        {{"--max-datagram", "1024", "--envelope"}, 1024, true, true},
    };
    for (const row& r : rows) {
        const std::vector<std::string> datagrams = run(r.args, scenario);
        const auto started =
            std::find_if(datagrams.begin(), datagrams.end(), [](const std::string& datagram) {
                return datagram.find("PROCESS STARTED") != std::string::npos;
            });
        ASSERT_NE(started, datagrams.end()) << ::testing::PrintToString(r.args);
        EXPECT_LE(started->size(), r.limit);
        rapidjson::Document message;
        message.Parse(started->data(), started->size());
        const std::string sent_line = message["Command_Line"].GetString();
        EXPECT_EQ(sent_line.size() < command_line.size(), r.shortened) << sent_line.size();
        EXPECT_EQ(command_line.starts_with(sent_line), true);
        EXPECT_EQ(message.HasMember("Shortened"), r.marked);
        if (r.marked) {
            EXPECT_TRUE(started->ends_with(",\"Shortened\":true}")) << *started;
            EXPECT_EQ(std::string(message["Host"].GetString()), "DESKTOP-SIM"); // the envelope is never cut
            // The limit holds up to the byte: little more would have fitted.
            EXPECT_GT(started->size() + 64, r.limit);
        }
        EXPECT_NE(process.err.find("messages shortened: " + std::string(r.shortened ? "1" : "0")),
                  std::string::npos)
            << process.err;
    }
}

} // namespace
} // namespace tallowick::testing
