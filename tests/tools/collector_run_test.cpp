// The collector receiving: each run's sequence followed to its gaps, and
// hostile datagrams kept off its terminal and out of its file.
#include "support/running_process.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>
#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace tallowick::testing {
namespace {

using namespace std::chrono_literals;
namespace asio = boost::asio;

const std::string collector = TALLOWICK_COLLECTOR_PATH;
// A port of its own: the agent's tests hold 13251.
constexpr unsigned short port = 13259;

// Starts the collector for `count` datagrams, sends them once it listens and
// returns what it printed.
process_result collect(const std::vector<std::string>& datagrams, std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {
        "--port", std::to_string(port), "--count", std::to_string(datagrams.size()), "--timeout", "60"};
    args.insert(args.end(), extra.begin(), extra.end());
    running_process receiving(collector, args);
    EXPECT_TRUE(receiving.wait_for_error_text("listening on", 30s));
    asio::io_context context;
    asio::ip::udp::socket socket(context, asio::ip::udp::v4());
    const asio::ip::udp::endpoint to(asio::ip::make_address("127.0.0.1"), port);
    for (const std::string& datagram : datagrams)
        socket.send_to(asio::buffer(datagram), to);
    return receiving.wait(60s);
}

std::string ended(std::uint64_t sequence, const std::string& run = "ccfd2485-de52-4122-a261-d6b3a8c23fa0") {
    return R"({"Operation":"PROCESS ENDED","Process_Name":"cmd.exe","Process_ID":77,"Event_Type":"PROCESS","Event_Time":"2026-12-08T02:47:09.0449706Z","Host":"DESKTOP-SIM","Run_Id":")" +
           run + R"(","Sequence":)" + std::to_string(sequence) + "}";
}

std::string stopped(std::uint64_t sequence, std::uint64_t sent, std::uint64_t failures) {
    return R"({"Event_Type":"AGENT","Operation":"STOPPED","Datagrams_Sent":)" + std::to_string(sent) +
           R"(,"File_System_Sent":0,"Process_Start_Sent":0,"Process_End_Sent":)" + std::to_string(sent) +
           R"(,"Agent_Sent":0,"Messages_Shortened":0,"Send_Failures":)" + std::to_string(failures) +
           R"(,"Console_Lines_Dropped":0,"Events_Lost":0,"Buffers_Lost":0,"Loss_Records":0,"Event_Time":"2026-12-08T02:47:10.0000000Z","Host":"DESKTOP-SIM","Run_Id":"ccfd2485-de52-4122-a261-d6b3a8c23fa0","Sequence":)" +
           std::to_string(sequence) + "}";
}

TEST(CollectorRun, ReportsWhatEachRunIsMissingBesideTheAgentsStoppedFigures) {
    const process_result run = collect({ended(1), ended(2), ended(4), ended(4), stopped(6, 5, 1),
                                        ended(1, "0f0f0f0f-0000-4000-8000-000000000001"),
                                        ended(3, "0f0f0f0f-0000-4000-8000-000000000001")});
    EXPECT_EQ(run.exit_status, 0) << run.err;
    EXPECT_NE(run.out.find("run ccfd2485-de52-4122-a261-d6b3a8c23fa0 on DESKTOP-SIM: 4 of sequence 1 to 6 "
                           "arrived, missing 2, 1 repeated; STOPPED says 5 datagrams sent before it, 1 send "
                           "failures\n"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("run 0f0f0f0f-0000-4000-8000-000000000001 on DESKTOP-SIM: 2 of sequence 1 to 3 "
                           "arrived, missing 1; no STOPPED arrived"),
              std::string::npos)
        << run.out;
}

TEST(CollectorRun, AHostileDatagramNeverReachesTheTerminalOrTheFileRaw) {
    const std::string jsonl = ::testing::TempDir() + "tallowick-collector-run.jsonl";
    std::remove(jsonl.c_str());
    // Escape sequences, a bell, a line break with a well-formed event behind it,
    // a C1 control byte and a byte that is not UTF-8.
    const std::string hostile = "\x1b]0;owned\x07\x1b[2J\r\n" + ended(1) +
                                "\n\x9b"
                                "31m\xff";
    // Valid JSON may hold U+009B (CSI to some terminals) and DEL.
    const std::string valid_c1 = "{\"Operation\":\"PROCESS ENDED\",\"Process_Name\":\"a\xc2\x9b"
                                 "2J\x7f\",\"Process_ID\":1,\"Event_Type\":"
                                 "\"PROCESS\"}";
    const process_result run = collect({hostile, valid_c1}, {"--jsonl", jsonl});
    EXPECT_EQ(run.exit_status, 1); // one invalid datagram
    for (const std::string* text : {&run.out, &run.err}) {
        for (const char control : {'\x1b', '\x07', '\r'})
            EXPECT_EQ(text->find(control), std::string::npos) << *text;
        EXPECT_EQ(text->find("\x9b"), std::string::npos) << *text;
    }
    EXPECT_NE(
        run.err.find("INVALID DATAGRAM (not valid UTF-8 JSON: Invalid value.): \\x1B]0;owned\\x07\\x1B[2J"),
        std::string::npos)
        << run.err;
    EXPECT_NE(run.out.find(R"("Process_Name":"a\u009B2J\u007F")"), std::string::npos) << run.out;

    std::ifstream in(jsonl, std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    ASSERT_EQ(lines.size(), 2u);
    rapidjson::Document record;
    record.Parse(lines[0].data(), lines[0].size());
    ASSERT_FALSE(record.HasParseError()) << lines[0];
    ASSERT_TRUE(record.IsObject() && record.HasMember("Invalid_Datagram") && record.HasMember("Problem"));
    EXPECT_EQ(record.MemberCount(), 2u);
    EXPECT_EQ(lines[0].find(ended(1)), std::string::npos); // the event inside is not a line of its own
    EXPECT_EQ(lines[1], valid_c1);                         // valid: the datagram as it came
    std::remove(jsonl.c_str());
}

} // namespace
} // namespace tallowick::testing
