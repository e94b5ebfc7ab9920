// The real tallowick binary on records a broken or hostile machine may deliver:
// each run states what must come out, and the agent must keep running and
// leave with status 0 on the interrupt.
#include "collector/message_check.h"
#include "support/run_process.h"
#include "support/udp_receiver.h"
#include "text_lines.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

namespace tallowick::testing {
namespace {

const std::string agent = TALLOWICK_AGENT_PATH;

const std::string machine = R"({
    "accounts": [{"sid": "S-1-5-21-7-8-9-1001", "name": "jürgen", "domain": "HÖST"}],
    "processes": [
      {"pid": 100, "image": "\\Device\\HarddiskVolume3\\Tools\\редактор.exe", "user_sid": "S-1-5-21-7-8-9-1001"},
      {"pid": 4294967295, "image": "\\Device\\HarddiskVolume3\\Tools\\edge.exe", "user_sid": "S-1-5-21-7-8-9-1001"}],
    "files": [{"path": "C:\\Users\\jürgen\\Документы\\отчёт.docx", "type": "file"}]})";

const std::string kernel_file = "EDD08927-9CC4-4E65-B970-C2560FB5C289";

// A raw file-open record of pid 100 with `properties` (JSON array body) and extra fields.
std::string raw_open(const std::string& properties, const std::string& extra = "") {
    return R"({"record": {"provider": ")" + kernel_file +
           R"(", "id": 12, "version": 1, "keywords": "0x80", "pid": 100, "properties": [)" + properties +
           "]" + extra + "}}";
}

const std::string open_head = R"({"name": "Irp", "type": "pointer", "value": 1},
    {"name": "FileObject", "type": "pointer", "value": 2},
    {"name": "IssuingThreadId", "type": "uint32", "value": 3},
    {"name": "CreateOptions", "type": "uint32", "value": 0},
    {"name": "CreateAttributes", "type": "uint32", "value": 0},)";
// 8 + 8 + 4 * 3 bytes before FileName when ShareAccess is a uint32.
constexpr int open_head_size = 28;
const std::string report_name = R"(\\Device\\HarddiskVolume3\\Users\\jürgen\\Документы\\отчёт.docx)";
const std::string report_read =
    R"({"id":12,"proc":100,"Operation":"READ","Filename":"C:\\Users\\jürgen\\Документы\\отчёт.docx","Path_Type":"FILE","Process_Name":"C:\\Tools\\редактор.exe","Process_Owner":"jürgen","Event_Type":"FILESYSTEM"})";

// A raw kernel process start of `pid` with the properties the handler reads, UserSID last.
std::string raw_process_start(const std::string& user_sid_property, const std::string& extra = "") {
    return R"({"record": {"provider": "kernel_process", "opcode": 1, "version": 4, "level": 0, "pid": 100,
      "properties": [{"name": "ProcessId", "type": "uint32", "value": 200},
        {"name": "ParentId", "type": "uint32", "value": 100},
        {"name": "CommandLine", "type": "unicode", "value": "x"},
        {"name": "ImageFileName", "type": "ansi", "value": "x.exe"},)" +
           user_sid_property + "]" + extra + "}}";
}

struct bad_input_case {
    const char* name;
    std::vector<std::string> arguments;
    std::string steps;                  // comma-separated steps, the interrupt is appended
    std::vector<std::string> datagrams; // exactly these, in any order
    std::string error_part;             // the start of a handler's error line
    std::size_t error_lines = 0;        // how many console lines start so
};

void PrintTo(const bad_input_case& c, std::ostream* out) {
    *out << c.name;
}

class BadInputEndToEnd : public ::testing::TestWithParam<bad_input_case> {
  protected:
    void TearDown() override { std::remove(scenario_path.c_str()); }

    udp_receiver receiver;
    std::string scenario_path = ::testing::TempDir() + "tallowick-bad-input-scenario.json";
};

TEST_P(BadInputEndToEnd, AgentReportsWhatItCanAndExitsCleanly) {
    const bad_input_case& c = GetParam();
    std::ofstream(scenario_path, std::ios::binary)
        << R"({"format": 1, "machine": )" << machine << R"(, "steps": [)" << c.steps
        << R"(, {"interrupt": {}}]})";
    const process_result result =
        run_process(agent, c.arguments, {"TALLOWICK_SIM_SCENARIO=" + scenario_path});
    std::vector<std::string> datagrams = receiver.receive_pending();

    EXPECT_EQ(result.exit_status, 0) << result.err;
    EXPECT_EQ(without_run_summary(result.err), "");
    const std::vector<std::string> console = lines_of(result.out);
    EXPECT_EQ(std::count(console.begin(), console.end(), "stopping traces..."), 1) << result.out;
    const auto errors = std::count_if(console.begin(), console.end(), [](const std::string& line) {
        return line.find("HANDLER CAUGHT ERROR") != std::string::npos;
    });
    EXPECT_EQ(static_cast<std::size_t>(errors), c.error_lines) << result.out;
    if (c.error_lines != 0) {
        EXPECT_NE(result.out.find(c.error_part), std::string::npos) << result.out;
    }
    for (const std::string& datagram : datagrams) {
        const collector::check_result checked = collector::check_message(datagram);
        EXPECT_TRUE(checked.ok()) << checked.problem << ": " << datagram;
    }
    std::vector<std::string> expected = c.datagrams;
    std::sort(expected.begin(), expected.end());
    std::sort(datagrams.begin(), datagrams.end());
    EXPECT_EQ(datagrams, expected);
}

const std::string file_error = "FILESYSTEM HANDLER CAUGHT ERROR: ";
const std::string process_error = "WINDOWS KERNEL PROCESS HANDLER CAUGHT ERROR: ";
const std::string share_read = R"({"name": "ShareAccess", "type": "uint32", "value": 1},)";
const std::string file_name = R"({"name": "FileName", "type": "unicode", "value": ")" + report_name + R"("})";
// Bytes of the name: its UTF-16 units and terminating zero.
const int report_name_bytes =
    2 * (static_cast<int>(
             std::u16string(u"\\Device\\HarddiskVolume3\\Users\\jürgen\\Документы\\отчёт.docx").size()) +
         1);

std::string truncate_at(int bytes) {
    return R"(, "truncate": )" + std::to_string(bytes);
}

std::string long_text(std::size_t size, char fill) {
    return std::string(size, fill);
}

// UTF-16LE hex of `units` and a terminating zero, for a "bytes" property.
std::string utf16_hex(const std::u16string& units) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string hex;
    for (const char16_t unit : units + u'\0') {
        for (const unsigned int byte : {unit & 0xFFu, (unit >> 8) & 0xFFu}) {
            hex += digits[byte >> 4];
            hex += digits[byte & 0xF];
        }
    }
    return hex;
}

std::vector<bad_input_case> bad_input_cases() {
    const std::string replacement = "\xEF\xBF\xBD"; // U+FFFD in UTF-8
    const std::u16string lone_surrogates = u"\\Device\\HarddiskVolume3\\Users\\a";
    const std::string surrogate_create =
        R"({"record": {"provider": ")" + kernel_file +
        R"(", "id": 30, "version": 1, "keywords": "0x1000", "pid": 100, "properties": [
        {"name": "FileName", "type": "bytes", "value": ")" +
        utf16_hex(lone_surrogates + char16_t(0xD800) + u"b" + char16_t(0xDC00) + u".txt") + R"("}]}})";
    const std::string long_path_tail = ".docx";
    const std::string long_path_prefix = R"(\\Device\\HarddiskVolume3\\Users\\)";
    // The longest name a file-open record can carry: 32 bytes of other
    // properties, the name and its terminator in 65,535 bytes ("\\" in JSON is one unit).
    const std::size_t long_path_fill = 32750 - (long_path_prefix.size() - 4) - long_path_tail.size();
    const std::string long_path_drive = R"(C:\\Users\\)" + long_text(long_path_fill, 'p') + long_path_tail;
    const std::string long_path = long_path_prefix + long_text(long_path_fill, 'p') + long_path_tail;
    return {
        {"WholeRecordIsReported", {}, raw_open(open_head + share_read + file_name), {report_read}, "", 0},
        {"PayloadCutInsideTheHeadIsAnError",
         {},
         raw_open(open_head + share_read + file_name, truncate_at(10)),
         {},
         file_error,
         1},
        // A name without its terminator reads to the end of the payload: here a
        // device prefix, out of scope.
        {"PayloadCutInsideTheNameReadsWhatIsThere",
         {},
         raw_open(open_head + share_read + file_name, truncate_at(open_head_size + 20)),
         {},
         file_error,
         0},
        {"NameWithoutTerminatorAtTheEndIsReported",
         {},
         raw_open(open_head + share_read + file_name,
                  truncate_at(open_head_size + 4 + report_name_bytes - 2)),
         {report_read},
         "",
         0},
        {"OddLengthNameAtTheEndIsAnError",
         {},
         raw_open(open_head + share_read + file_name,
                  truncate_at(open_head_size + 4 + report_name_bytes - 1)),
         {},
         file_error,
         1},
        {"MissingPropertyIsAnError", {}, raw_open(open_head + file_name), {}, file_error, 1},
        {"WrongSizedPropertyIsAnError",
         {},
         raw_open(open_head + R"({"name": "ShareAccess", "type": "uint16", "value": 1},)" + file_name),
         {},
         file_error,
         1},
        // Dropped by the trace layer before any handler sees it.
        {"UnknownSchemaIsDropped",
         {},
         raw_open(open_head + share_read + file_name, R"(, "schema": "unknown")"),
         {},
         file_error,
         0},
        {"WbemSidTooSmallIsAnError",
         {},
         raw_process_start(R"({"name": "UserSID", "type": "wbemsid", "value": "S-1-5-18"})",
                           truncate_at(4 + 4 + 4 + 6 + 16)),
         {},
         process_error,
         1},
        {"SidLongerThanItsPropertyIsAnError",
         {},
         raw_process_start(R"({"name": "UserSID", "type": "wbemsid", "value": "S-1-5-21-7-8-9-1001"})",
                           truncate_at(4 + 4 + 4 + 6 + 16 + 12)),
         {},
         process_error,
         1},
        {"NonAsciiPathsImagesAndAccounts",
         {},
         R"({"file_open": {"pid": 100, "name": ")" + report_name + R"(", "share_access": 1}})",
         {report_read},
         "",
         0},
        {"SystemAndIdleProcessIdsAreSkipped",
         {},
         R"({"file_open": {"pid": 0, "name": ")" + report_name + R"(", "share_access": 1}},
            {"file_open": {"pid": 4, "name": ")" +
             report_name + R"(", "share_access": 1}})",
         {},
         file_error,
         0},
        {"LargestProcessIdIsReported",
         {},
         R"({"file_open": {"pid": 4294967295, "name": ")" + report_name + R"(", "share_access": 2}})",
         {R"({"id":12,"proc":4294967295,"Operation":"WRITE","Filename":"C:\\Users\\jürgen\\Документы\\отчёт.docx","Path_Type":"FILE","Process_Name":"C:\\Tools\\edge.exe","Process_Owner":"jürgen","Event_Type":"FILESYSTEM"})"},
         "",
         0},
        {"EveryShareBitSetIsDropped",
         {},
         R"({"file_open": {"pid": 100, "name": ")" + report_name + R"(", "share_access": 4294967295}})",
         {},
         file_error,
         0},
        {"PathOfTheLongestLengthIsReported",
         {},
         R"({"file_open": {"pid": 100, "name": ")" + long_path + R"(", "share_access": 1}})",
         {R"({"id":12,"proc":100,"Operation":"READ","Filename":")" + long_path_drive +
          R"(","Path_Type":"N/A","Process_Name":"C:\\Tools\\редактор.exe","Process_Owner":"jürgen","Event_Type":"FILESYSTEM"})"},
         "",
         0},
        {"UnpairedSurrogatesInANameAreReplaced",
         {"--path", "C:\\Users"},
         surrogate_create,
         {R"({"id":30,"proc":100,"Operation":"CREATED","Filename":"C:\\Users\\a)" + replacement + "b" +
          replacement +
          R"(.txt","Path_Type":"N/A","Process_Name":"C:\\Tools\\редактор.exe","Process_Owner":"jürgen","Event_Type":"FILESYSTEM"})"},
         "",
         0},
        {"ExtremeProcessIds",
         {},
         R"({"process_start": {"pid": 4294967295, "parent_pid": 0, "image_file_name": "x.exe", "command_line": "x", "user_sid": "S-1-5-21-7-8-9-1001"}},
            {"process_start": {"pid": 4, "parent_pid": 0, "image_file_name": "System", "command_line": "", "user_sid": "S-1-5-18"}})",
         {R"({"Parent_Process_Name":"","Operation":"PROCESS STARTED","Process_Name":"x.exe","Process_ID":4294967295,"Parent_Process_ID":0,"Command_Line":"x","Event_Type":"PROCESS","User":"jürgen","User_SID":"S-1-5-21-7-8-9-1001"})"},
         "",
         0},
        {"ProcessStartWithoutSidIsReportedWithoutUser",
         {},
         R"({"process_start": {"pid": 300, "parent_pid": 0, "image_file_name": "x.exe", "command_line": "x", "user_sid": ""}})",
         {R"({"Parent_Process_Name":"","Operation":"PROCESS STARTED","Process_Name":"x.exe","Process_ID":300,"Parent_Process_ID":0,"Command_Line":"x","Event_Type":"PROCESS","User":"UNKNOWN","User_SID":""})"},
         "",
         0},
    };
}

INSTANTIATE_TEST_SUITE_P(Records, BadInputEndToEnd, ::testing::ValuesIn(bad_input_cases()),
                         [](const auto& info) { return std::string(info.param.name); });

// A record carries at most 65,535 bytes, so the longest command line that can
// arrive is about 32,000 units; in UTF-8 it still outgrows a datagram.
TEST(BadInputEndToEndLong, LongestCommandLineArrivesShortenedAndValid) {
    std::string command_line = "long.exe ";
    for (int i = 0; i < 32000; ++i)
        command_line += "\u20AC";
    udp_receiver receiver;
    const std::string path = ::testing::TempDir() + "tallowick-long-command-scenario.json";
    std::ofstream(path, std::ios::binary)
        << R"({"format": 1, "machine": )" << machine
        << R"(, "steps": [{"process_start": {"pid": 300, "parent_pid": 100, "image_file_name": "long.exe", "command_line": ")"
        << command_line << R"(", "user_sid": "S-1-5-21-7-8-9-1001"}}, {"interrupt": {}}]})";
    const process_result result = run_process(agent, {}, {"TALLOWICK_SIM_SCENARIO=" + path});
    const std::vector<std::string> datagrams = receiver.receive_pending();
    std::remove(path.c_str());

    EXPECT_EQ(result.exit_status, 0) << result.err;
    ASSERT_EQ(datagrams.size(), 1u);
    const collector::check_result checked = collector::check_message(datagrams[0]);
    EXPECT_TRUE(checked.ok()) << checked.problem;
    EXPECT_LT(datagrams[0].size(), 65508u);
    EXPECT_NE(datagrams[0].find("\"Command_Line\":\"long.exe \xE2\x82\xAC"), std::string::npos);
    EXPECT_NE(datagrams[0].find(R"("Process_ID":300,)"), std::string::npos);
}

} // namespace
} // namespace tallowick::testing
