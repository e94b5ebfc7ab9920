// The real tallowick binary on scenarios of the simulated machine, its datagrams
// received on a real socket.
#include "collector/message_check.h"
#include "support/run_process.h"
#include "support/udp_receiver.h"
#include "text_lines.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace tallowick::testing {
namespace {

const std::string agent = TALLOWICK_AGENT_PATH;

std::vector<std::string> sorted(std::vector<std::string> items) {
    std::sort(items.begin(), items.end());
    return items;
}

struct agent_run {
    process_result process;
    std::vector<std::string> datagrams;
};

class AgentEndToEnd : public ::testing::Test {
  protected:
    // Runs the agent to its end on `scenario_json` (the built-in demo when
    // empty) and collects every datagram it sent.
    agent_run run(const std::vector<std::string>& args, const std::string& scenario_json = "") {
        std::vector<std::string> environment;
        if (!scenario_json.empty()) {
            std::ofstream(scenario_path, std::ios::binary) << scenario_json;
            environment.push_back("TALLOWICK_SIM_SCENARIO=" + scenario_path);
        }
        agent_run result;
        result.process = run_process(agent, args, environment);
        result.datagrams = receiver.receive_pending();
        for (const std::string& datagram : result.datagrams) {
            const collector::check_result checked = collector::check_message(datagram);
            EXPECT_TRUE(checked.ok()) << checked.problem << ": " << datagram;
        }
        return result;
    }

    void TearDown() override { std::remove(scenario_path.c_str()); }

    udp_receiver receiver;
    std::string scenario_path = ::testing::TempDir() + "tallowick-e2e-scenario.json";
};

// A user's editor in a project folder, a colleague's file, and a deletion.
const std::string project_scenario = R"({"format": 1,
  "machine": {
    "accounts": [{"sid": "S-1-5-21-7-8-9-1001", "name": "alice", "domain": "HOST"}],
    "processes": [{"pid": 100, "image": "\\Device\\HarddiskVolume3\\Tools\\editor.exe", "user_sid": "S-1-5-21-7-8-9-1001"}],
    "files": [{"path": "C:\\Users\\alice\\Projects\\main.cpp", "type": "file"}]},
  "steps": [
    {"file_open": {"pid": 100, "name": "\\Device\\HarddiskVolume3\\Users\\alice\\Projects\\main.cpp", "share_access": 1}},
    {"file_open": {"pid": 100, "name": "\\Device\\HarddiskVolume3\\Users\\bob\\notes.txt", "share_access": 3}},
    {"file_delete": {"pid": 100, "name": "\\Device\\HarddiskVolume3\\Users\\alice\\Projects\\old.cpp"}},
    {"interrupt": {}}]})";

const std::string main_cpp_read =
    R"({"id":12,"proc":100,"Operation":"READ","Filename":"C:\\Users\\alice\\Projects\\main.cpp","Path_Type":"FILE","Process_Name":"C:\\Tools\\editor.exe","Process_Owner":"alice","Event_Type":"FILESYSTEM"})";
const std::string old_cpp_deleted =
    R"({"id":26,"proc":100,"Operation":"DELETE","Filename":"C:\\Users\\alice\\Projects\\old.cpp","Process_Name":"C:\\Tools\\editor.exe","Process_Owner":"alice","Event_Type":"FILESYSTEM"})";
const std::string notes_written =
    R"({"id":12,"proc":100,"Operation":"READ + WRITE","Filename":"C:\\Users\\bob\\notes.txt","Path_Type":"N/A","Process_Name":"C:\\Tools\\editor.exe","Process_Owner":"alice","Event_Type":"FILESYSTEM"})";

TEST_F(AgentEndToEnd, DemoScenarioReportsExactlyTheWorkday) {
    const agent_run result = run({});
    EXPECT_EQ(result.process.exit_status, 0);
    // Standard error has the run summary only, whose counts match the datagrams.
    EXPECT_EQ(result.process.err,
              "tallowick: run summary: datagrams sent: 7 file system, 3 process start, 4 process end\n"
              "tallowick: run summary: messages shortened: 0, send failures: 0, console lines dropped: 0\n"
              "tallowick: run summary: events lost: Velmar_Trace_WindowsKernel 0, Velmar_Trace_FileKernel 0, "
              "Velmar_Trace_ProcessThreadKernel 0\n"
              "tallowick: run summary: sessions restored: 0\n");

    const std::string word =
        R"("Process_Name":"C:\\Program Files\\Microsoft Office\\root\\Office16\\WINWORD.EXE","Process_Owner":"alice","Event_Type":"FILESYSTEM"})";
    const std::string excel =
        R"("Process_Name":"C:\\Program Files\\Microsoft Office\\root\\Office16\\EXCEL.EXE","Process_Owner":"alice","Event_Type":"FILESYSTEM"})";
    const std::string report =
        R"("Filename":"C:\\Users\\alice\\Documents\\Quarterly Report.docx","Path_Type":"FILE",)";
    const std::string budget =
        R"("Filename":"C:\\Users\\alice\\Documents\\budget-2027.xlsx","Path_Type":"FILE",)";
    const std::string alice = R"("User":"alice","User_SID":"S-1-5-21-1004336348-1177238915-682003330-1001"})";
    const std::vector<std::string> expected = {
        R"({"Parent_Process_Name":"c:\\windows\\explorer.exe","Operation":"PROCESS STARTED","Process_Name":"winword.exe","Process_ID":4242,"Parent_Process_ID":3012,"Command_Line":"\"C:\\Program Files\\Microsoft Office\\root\\Office16\\WINWORD.EXE\" /n \"C:\\Users\\alice\\Documents\\Quarterly Report.docx\"","Event_Type":"PROCESS",)" +
            alice,
        R"({"id":12,"proc":4242,"Operation":"READ",)" + report + word,
        R"({"id":12,"proc":4242,"Operation":"READ + WRITE",)" + report + word,
        R"({"id":27,"proc":4242,"Operation":"RENAME",)" + report + word,
        R"({"id":12,"proc":3012,"Operation":"DELETE","Filename":"C:\\Users\\alice\\Documents\\old-draft.docx","Path_Type":"FILE","Process_Name":"C:\\Windows\\explorer.exe","Process_Owner":"alice","Event_Type":"FILESYSTEM"})",
        R"({"Parent_Process_Name":"c:\\windows\\explorer.exe","Operation":"PROCESS STARTED","Process_Name":"excel.exe","Process_ID":7400,"Parent_Process_ID":3012,"Command_Line":"\"C:\\Program Files\\Microsoft Office\\root\\Office16\\EXCEL.EXE\"","Event_Type":"PROCESS",)" +
            alice,
        R"({"id":12,"proc":7400,"Operation":"READ + WRITE",)" + budget + excel,
        R"({"id":27,"proc":7400,"Operation":"RENAME",)" + budget + excel,
        R"({"id":12,"proc":5120,"Operation":"READ + WRITE","Filename":"C:\\Users\\alice\\Documents\\notes.txt","Path_Type":"FILE","Process_Name":"C:\\Windows\\System32\\notepad.exe","Process_Owner":"alice","Event_Type":"FILESYSTEM"})",
        R"({"Operation":"PROCESS ENDED","Process_Name":"powershell.exe","Process_ID":7788,"Event_Type":"PROCESS"})",
        R"({"Operation":"PROCESS ENDED","Process_Name":"tasklist.exe","Process_ID":8120,"Event_Type":"PROCESS"})",
        R"({"Parent_Process_Name":"c:\\windows\\explorer.exe","Operation":"PROCESS STARTED","Process_Name":"werfault.exe","Process_ID":9001,"Parent_Process_ID":3012,"Command_Line":"C:\\Windows\\system32\\WerFault.exe -u -p 7400 -s 512","Event_Type":"PROCESS",)" +
            alice,
        R"({"Operation":"PROCESS ENDED","Process_Name":"winword.exe","Process_ID":4242,"Event_Type":"PROCESS"})",
        R"({"Operation":"PROCESS ENDED","Process_Name":"excel.exe","Process_ID":7400,"Event_Type":"PROCESS"})",
    };
    EXPECT_EQ(sorted(result.datagrams), sorted(expected));

    const std::vector<std::string> console = lines_of(result.process.out);
    ASSERT_GE(console.size(), 3u);
    EXPECT_EQ(console.front(), "starting traces...");
    EXPECT_EQ(console[console.size() - 2], "Caught interrupt signal...");
    EXPECT_EQ(console.back(), "stopping traces...");
    const std::string word_image = "C:\\Program Files\\Microsoft Office\\root\\Office16\\WINWORD.EXE";
    const std::string excel_image = "C:\\Program Files\\Microsoft Office\\root\\Office16\\EXCEL.EXE";
    const std::vector<std::string> expected_console = {
        "starting traces...",
        "DEBUG PROCESS STARTED: 4242 winword.exe \"" + word_image +
            "\" /n \"C:\\Users\\alice\\Documents\\Quarterly Report.docx\" c:\\windows\\explorer.exe",
        "READ C:\\Users\\alice\\Documents\\Quarterly Report.docx FILE " + word_image + " 4242 alice",
        "READ + WRITE C:\\Users\\alice\\Documents\\Quarterly Report.docx FILE " + word_image + " 4242 alice",
        "RENAME C:\\Users\\alice\\Documents\\Quarterly Report.docx " + word_image,
        "DEBUG FILE RENAME C:\\Users\\alice\\Documents\\Quarterly Report.docx " + word_image + " alice",
        "DELETE C:\\Users\\alice\\Documents\\old-draft.docx FILE C:\\Windows\\explorer.exe 3012 alice",
        "DEBUG PROCESS STARTED: 7400 excel.exe \"" + excel_image + "\" c:\\windows\\explorer.exe",
        "READ + WRITE C:\\Users\\alice\\Documents\\budget-2027.xlsx FILE " + excel_image + " 7400 alice",
        "RENAME C:\\Users\\alice\\Documents\\budget-2027.xlsx " + excel_image,
        "DEBUG FILE RENAME C:\\Users\\alice\\Documents\\budget-2027.xlsx " + excel_image + " alice",
        "READ + WRITE C:\\Users\\alice\\Documents\\notes.txt FILE C:\\Windows\\System32\\notepad.exe 5120 "
        "alice",
        "DEBUG PROCESS ENDED: 7788 powershell.exe",
        "DEBUG PROCESS ENDED: 8120 tasklist.exe",
        "DEBUG PROCESS STARTED: 9001 werfault.exe C:\\Windows\\system32\\WerFault.exe -u -p 7400 -s 512 "
        "c:\\windows\\explorer.exe",
        "DEBUG PROCESS ENDED: 4242 winword.exe",
        "DEBUG PROCESS ENDED: 7400 excel.exe",
        "Caught interrupt signal...",
        "stopping traces...",
    };
    EXPECT_EQ(sorted(console), sorted(expected_console));
}

TEST_F(AgentEndToEnd, PathsScopeEveryFileAndExtensionsScopeDocuments) {
    const agent_run scoped = run({"--path", "C:\\Users\\alice"}, project_scenario);
    EXPECT_EQ(scoped.process.exit_status, 0);
    EXPECT_EQ(sorted(scoped.datagrams), sorted({main_cpp_read, old_cpp_deleted}));
    EXPECT_EQ(lines_of(scoped.process.out).front(), "Monitoring path: \\Users\\alice");

    const agent_run documents = run({}, project_scenario);
    EXPECT_EQ(documents.datagrams, std::vector<std::string>{notes_written});
}

// Every volume under its own drive letter: one off the boot volume, one
// mounted while the agent runs, and one without a letter, kept as it is.
TEST_F(AgentEndToEnd, FilesAndImagesOffTheBootVolumeGetTheirOwnDriveLetter) {
    const std::string scenario = R"({"format": 1,
      "machine": {
        "volumes": [{"device": "\\Device\\HarddiskVolume3\\", "root": "C:\\"},
                    {"device": "\\Device\\HarddiskVolume5\\", "root": "D:\\"}],
        "accounts": [{"sid": "S-1-5-21-7-8-9-1001", "name": "alice", "domain": "HOST"}],
        "processes": [{"pid": 100, "image": "\\Device\\HarddiskVolume5\\Tools\\editor.exe", "user_sid": "S-1-5-21-7-8-9-1001"}],
        "files": [{"path": "D:\\Users\\alice\\report.docx", "type": "file"}]},
      "steps": [
        {"file_open": {"pid": 100, "name": "\\Device\\HarddiskVolume5\\Users\\alice\\report.docx", "share_access": 1}},
        {"volume_mount": {"device": "\\Device\\HarddiskVolume8\\", "root": "E:\\"}},
        {"file_open": {"pid": 100, "name": "\\Device\\HarddiskVolume8\\stick.docx", "share_access": 1}},
        {"file_open": {"pid": 100, "name": "\\Device\\HarddiskVolume9\\unlettered.docx", "share_access": 1}},
        {"interrupt": {}}]})";
    const std::string editor =
        R"("Process_Name":"D:\\Tools\\editor.exe","Process_Owner":"alice","Event_Type":"FILESYSTEM"})";
    const agent_run result = run({}, scenario);
    EXPECT_EQ(result.process.exit_status, 0) << result.process.err;
    EXPECT_EQ(
        sorted(result.datagrams),
        sorted(
            {R"({"id":12,"proc":100,"Operation":"READ","Filename":"D:\\Users\\alice\\report.docx","Path_Type":"FILE",)" +
                 editor,
             R"({"id":12,"proc":100,"Operation":"READ","Filename":"E:\\stick.docx","Path_Type":"N/A",)" +
                 editor,
             R"({"id":12,"proc":100,"Operation":"READ","Filename":"\\Device\\HarddiskVolume9\\unlettered.docx","Path_Type":"N/A",)" +
                 editor}));
}

TEST_F(AgentEndToEnd, ExcludedProcessesAreNotReported) {
    const agent_run result = run({"--path", "C:\\Users", "--excludeproc", "editor.exe"}, project_scenario);
    EXPECT_EQ(result.process.exit_status, 0);
    EXPECT_TRUE(result.datagrams.empty());
    EXPECT_NE(result.process.out.find("Excluding Process: editor.exe\n"), std::string::npos);
}

// Word started by an editor opens and renames documents named in capitals, the
// editor writes into a folder named beyond ASCII, and another Word ends (the
// first stays, so that the lookups of its file events find it).
const std::string mixed_case_scenario = R"({"format": 1,
  "machine": {
    "accounts": [{"sid": "S-1-5-21-7-8-9-1001", "name": "alice", "domain": "HOST"}],
    "processes": [{"pid": 100, "image": "\\Device\\HarddiskVolume3\\Tools\\editor.exe", "user_sid": "S-1-5-21-7-8-9-1001"}]},
  "steps": [
    {"process_start": {"pid": 4242, "parent_pid": 100, "image_file_name": "WINWORD.EXE", "command_line": "winword",
      "user_sid": "S-1-5-21-7-8-9-1001", "image": "\\Device\\HarddiskVolume3\\Office\\WINWORD.EXE"}},
    {"file_open": {"pid": 4242, "name": "\\Device\\HarddiskVolume3\\Finance\\SCAN001.PDF", "share_access": 1}},
    {"file_rename": {"pid": 4242, "name": "\\Device\\HarddiskVolume3\\Finance\\Budget.Xlsx"}},
    {"file_open": {"pid": 100, "name": "\\Device\\HarddiskVolume3\\Users\\Jürgen\\Bücher\\liste.bin", "share_access": 2}},
    {"process_end": {"pid": 4243, "image_file_name": "WINWORD.EXE"}},
    {"interrupt": {}}]})";

TEST_F(AgentEndToEnd, NamesMatchInAnyCaseAsOnWindows) {
    const std::string word =
        R"("Process_Name":"C:\\Office\\WINWORD.EXE","Process_Owner":"alice","Event_Type":"FILESYSTEM"})";
    const std::string started =
        R"({"Parent_Process_Name":"c:\\tools\\editor.exe","Operation":"PROCESS STARTED","Process_Name":"winword.exe","Process_ID":4242,"Parent_Process_ID":100,"Command_Line":"winword","Event_Type":"PROCESS","User":"alice","User_SID":"S-1-5-21-7-8-9-1001"})";
    const std::string ended =
        R"({"Operation":"PROCESS ENDED","Process_Name":"winword.exe","Process_ID":4243,"Event_Type":"PROCESS"})";
    const std::string scan_read =
        R"({"id":12,"proc":4242,"Operation":"READ","Filename":"C:\\Finance\\SCAN001.PDF","Path_Type":"N/A",)" +
        word;
    const std::string budget_renamed =
        R"({"id":27,"proc":4242,"Operation":"RENAME","Filename":"C:\\Finance\\Budget.Xlsx","Path_Type":"N/A",)" +
        word;
    const std::string list_written =
        R"({"id":12,"proc":100,"Operation":"WRITE","Filename":"C:\\Users\\Jürgen\\Bücher\\liste.bin","Path_Type":"N/A","Process_Name":"C:\\Tools\\editor.exe","Process_Owner":"alice","Event_Type":"FILESYSTEM"})";
    struct case_row {
        std::vector<std::string> arguments;
        std::vector<std::string> datagrams;
    };
    const case_row rows[] = {
        {{}, {started, scan_read, budget_renamed, ended}},
        {{"--path", "c:\\finance"}, {started, scan_read, budget_renamed, ended}},
        {{"--path", "C:\\FINANCE\\budget.XLSX"}, {started, budget_renamed, ended}},
        {{"--path", "C:\\USERS\\Jürgen\\Bücher\\"}, {started, list_written, ended}},
        // One exclusion for opens, path events, starts and ends, in any case.
        {{"--excludeproc", "winword.exe"}, {}},
        {{"--excludeproc", "WINWORD.EXE"}, {}},
        {{"--path", "C:\\Finance", "--excludeproc", "WinWord.Exe"}, {}},
        // An exclusion must end the image's name, for path events too.
        {{"--excludeproc", "winword"}, {started, scan_read, budget_renamed, ended}},
    };
    for (const case_row& row : rows) {
        const agent_run result = run(row.arguments, mixed_case_scenario);
        EXPECT_EQ(result.process.exit_status, 0) << ::testing::PrintToString(row.arguments);
        EXPECT_EQ(sorted(result.datagrams), sorted(row.datagrams)) << ::testing::PrintToString(row.arguments);
    }
}

// Malware named after a system program, or holding a table entry's name in
// its own, is reported; the real programs stay excluded. Process starts are
// excluded on the full image path, not on the kernel's short name.
const std::string borrowed_names_scenario = R"({"format": 1,
  "machine": {
    "accounts": [{"sid": "S-1-5-21-7-8-9-1002", "name": "bob", "domain": "HOST"}],
    "processes": [
      {"pid": 100, "image": "\\Device\\HarddiskVolume3\\Tools\\editor.exe", "user_sid": "S-1-5-21-7-8-9-1002"},
      {"pid": 200, "image": "\\Device\\HarddiskVolume3\\Users\\bob\\Downloads\\svchost.exe", "user_sid": "S-1-5-21-7-8-9-1002"},
      {"pid": 201, "image": "\\Device\\HarddiskVolume3\\Users\\bob\\AppData\\Roaming\\conhost.exe", "user_sid": "S-1-5-21-7-8-9-1002"},
      {"pid": 202, "image": "\\Device\\HarddiskVolume3\\Tools\\sharp.exe", "user_sid": "S-1-5-21-7-8-9-1002"},
      {"pid": 203, "image": "\\Device\\HarddiskVolume3\\Tools\\PerfWatson\\dropper.exe", "user_sid": "S-1-5-21-7-8-9-1002"},
      {"pid": 204, "image": "\\Device\\HarddiskVolume3\\Tools\\evilwinword.exe", "user_sid": "S-1-5-21-7-8-9-1002"},
      {"pid": 210, "image": "\\Device\\HarddiskVolume3\\Windows\\System32\\svchost.exe"},
      {"pid": 211, "image": "\\Device\\HarddiskVolume3\\Program Files\\Microsoft Visual Studio\\Common7\\ServiceHub\\Hosts\\ServiceHub.Host.CLR.x86.exe", "user_sid": "S-1-5-21-7-8-9-1002"},
      {"pid": 212, "image": "\\Device\\HarddiskVolume3\\Program Files (x86)\\Microsoft Visual Studio\\Common7\\IDE\\PerfWatson2.exe", "user_sid": "S-1-5-21-7-8-9-1002"}]},
  "steps": [
    {"file_open": {"pid": 200, "name": "\\Device\\HarddiskVolume3\\Users\\bob\\a.docx", "share_access": 1}},
    {"file_open": {"pid": 201, "name": "\\Device\\HarddiskVolume3\\Users\\bob\\a.docx", "share_access": 1}},
    {"file_open": {"pid": 202, "name": "\\Device\\HarddiskVolume3\\Users\\bob\\a.docx", "share_access": 1}},
    {"file_open": {"pid": 203, "name": "\\Device\\HarddiskVolume3\\Users\\bob\\a.docx", "share_access": 1}},
    {"file_open": {"pid": 204, "name": "\\Device\\HarddiskVolume3\\Users\\bob\\a.docx", "share_access": 1}},
    {"file_open": {"pid": 210, "name": "\\Device\\HarddiskVolume3\\Users\\bob\\a.docx", "share_access": 1}},
    {"file_open": {"pid": 211, "name": "\\Device\\HarddiskVolume3\\Users\\bob\\a.docx", "share_access": 1}},
    {"file_open": {"pid": 212, "name": "\\Device\\HarddiskVolume3\\Users\\bob\\a.docx", "share_access": 1}},
    {"process_start": {"pid": 300, "parent_pid": 100, "image_file_name": "svchost.exe", "command_line": "svchost.exe -k evil",
      "user_sid": "S-1-5-21-7-8-9-1002", "image": "\\Device\\HarddiskVolume3\\Users\\bob\\Downloads\\svchost.exe"}},
    {"process_start": {"pid": 301, "parent_pid": 100, "image_file_name": "sharp.exe", "command_line": "sharp.exe",
      "user_sid": "S-1-5-21-7-8-9-1002", "image": "\\Device\\HarddiskVolume3\\Tools\\sharp.exe"}},
    {"process_start": {"pid": 302, "parent_pid": 100, "image_file_name": "svchost.exe", "command_line": "svchost.exe -k netsvcs",
      "user_sid": "S-1-5-18", "image": "\\Device\\HarddiskVolume3\\Windows\\System32\\svchost.exe"}},
    {"interrupt": {}}]})";

TEST_F(AgentEndToEnd, BorrowedNamesAreReportedAndTheRealProgramsStayExcluded) {
    const auto opened_by = [](int pid, const std::string& image) {
        return R"({"id":12,"proc":)" + std::to_string(pid) +
               R"(,"Operation":"READ","Filename":"C:\\Users\\bob\\a.docx","Path_Type":"N/A","Process_Name":")" +
               image + R"(","Process_Owner":"bob","Event_Type":"FILESYSTEM"})";
    };
    const auto started = [](int pid, const std::string& image, const std::string& command_line) {
        return R"({"Parent_Process_Name":"c:\\tools\\editor.exe","Operation":"PROCESS STARTED","Process_Name":")" +
               image + R"(","Process_ID":)" + std::to_string(pid) +
               R"(,"Parent_Process_ID":100,"Command_Line":")" + command_line +
               R"(","Event_Type":"PROCESS","User":"bob","User_SID":"S-1-5-21-7-8-9-1002"})";
    };
    const std::string svchost = opened_by(200, R"(C:\\Users\\bob\\Downloads\\svchost.exe)");
    const std::string conhost = opened_by(201, R"(C:\\Users\\bob\\AppData\\Roaming\\conhost.exe)");
    const std::string sharp = opened_by(202, R"(C:\\Tools\\sharp.exe)");
    const std::string dropper = opened_by(203, R"(C:\\Tools\\PerfWatson\\dropper.exe)");
    const std::string evilwinword = opened_by(204, R"(C:\\Tools\\evilwinword.exe)");
    const std::string svchost_started = started(300, "svchost.exe", "svchost.exe -k evil");
    const std::string sharp_started = started(301, "sharp.exe", "sharp.exe");
    struct case_row {
        std::vector<std::string> arguments;
        std::vector<std::string> datagrams;
    };
    const case_row rows[] = {
        {{}, {svchost, conhost, sharp, dropper, evilwinword, svchost_started, sharp_started}},
        // The user's exclusion names a program, not the end of another's name.
        {{"--excludeproc", "winword.exe"},
         {svchost, conhost, sharp, dropper, evilwinword, svchost_started, sharp_started}},
        {{"--excludeproc", "EvilWinWord.exe"},
         {svchost, conhost, sharp, dropper, svchost_started, sharp_started}},
        {{"--excludeproc", "arp.exe"},
         {svchost, conhost, sharp, dropper, evilwinword, svchost_started, sharp_started}},
        // On the full path for starts too: the borrowed svchost goes, the real one was never reported.
        {{"--excludeproc", "downloads\\svchost.exe"}, {conhost, sharp, dropper, evilwinword, sharp_started}},
    };
    for (const case_row& row : rows) {
        const agent_run result = run(row.arguments, borrowed_names_scenario);
        EXPECT_EQ(result.process.exit_status, 0) << ::testing::PrintToString(row.arguments);
        EXPECT_EQ(sorted(result.datagrams), sorted(row.datagrams)) << ::testing::PrintToString(row.arguments);
    }
}

// A mistyped option is named and ignored; the run goes on as without it.
TEST_F(AgentEndToEnd, MistypedOptionsAreNamedOnStandardError) {
    const agent_run result =
        run({"--paht", "C:\\Users\\bob", "--path", "C:\\Users", "C:\\Other"}, project_scenario);
    EXPECT_EQ(result.process.exit_status, 0);
    EXPECT_EQ(lines_of(without_run_summary(result.process.err)),
              (std::vector<std::string>{"tallowick: unknown option \"--paht\" ignored",
                                        "tallowick: argument \"C:\\Users\\bob\" ignored: no option takes it",
                                        "tallowick: argument \"C:\\Other\" ignored: no option takes it"}));
    EXPECT_EQ(lines_of(result.process.out).front(), "Monitoring path: \\Users");
    EXPECT_EQ(sorted(result.datagrams), sorted({main_cpp_read, notes_written, old_cpp_deleted}));
}

TEST_F(AgentEndToEnd, ControlCharactersCannotForgeConsoleLines) {
    const std::string scenario = R"({"format": 1,
      "machine": {
        "accounts": [{"sid": "S-1-5-21-7-8-9-1001", "name": "alice", "domain": "HOST"}],
        "processes": [{"pid": 100, "image": "\\Device\\HarddiskVolume3\\Tools\\editor.exe", "user_sid": "S-1-5-21-7-8-9-1001"}]},
      "steps": [
        {"process_start": {"pid": 300, "parent_pid": 100, "image_file_name": "evil\u0007.exe",
          "command_line": "x\nREAD C:\\forged.docx FILE C:\\x.exe 1 alice\u001b[2J\r\u007f! invoice_\u202efdp.exe\u009b2J\u0085\u2028\u2066.",
          "user_sid": "S-1-5-21-7-8-9-1001", "image": "\\Device\\HarddiskVolume3\\Tools\\evil.exe"}},
        {"file_open": {"pid": 300, "name": "\\Device\\HarddiskVolume3\\Users\\a\tb\u001b.docx", "share_access": 1}},
        {"interrupt": {}}]})";
    const agent_run result = run({"--excludeproc", "a\nstopping traces..."}, scenario);
    EXPECT_EQ(result.process.exit_status, 0) << result.process.err;

    // The datagrams carry the text exactly, in JSON's escapes.
    const std::vector<std::string> expected = {
        R"({"Parent_Process_Name":"c:\\tools\\editor.exe","Operation":"PROCESS STARTED","Process_Name":"evil\u0007.exe","Process_ID":300,"Parent_Process_ID":100,"Command_Line":"x\nREAD C:\\forged.docx FILE C:\\x.exe 1 alice\u001B[2J\r)"
        "\x7f"
        "! invoice_\xe2\x80\xae"
        "fdp.exe\xc2\x9b"
        "2J\xc2\x85\xe2\x80\xa8\xe2\x81\xa6."
        R"(","Event_Type":"PROCESS","User":"alice","User_SID":"S-1-5-21-7-8-9-1001"})",
        R"({"id":12,"proc":300,"Operation":"READ","Filename":"C:\\Users\\a\tb\u001B.docx","Path_Type":"N/A","Process_Name":"C:\\Tools\\evil.exe","Process_Owner":"alice","Event_Type":"FILESYSTEM"})",
    };
    EXPECT_EQ(sorted(result.datagrams), sorted(expected));

    // One event, one console line; no control character reaches the terminal.
    const std::vector<std::string> console = sorted({
        "Excluding Process: a\\x0Astopping traces...",
        "starting traces...",
        "DEBUG PROCESS STARTED: 300 evil\\x07.exe x\\x0AREAD C:\\forged.docx FILE C:\\x.exe 1 "
        "alice\\x1B[2J\\x0D\\x7F! invoice_\\u202Efdp.exe\\u009B2J\\u0085\\u2028\\u2066. "
        "c:\\tools\\editor.exe",
        "READ C:\\Users\\a\\x09b\\x1B.docx N/A C:\\Tools\\evil.exe 300 alice",
        "Caught interrupt signal...",
        "stopping traces...",
    });
    EXPECT_EQ(sorted(lines_of(result.process.out)), console);
}

TEST_F(AgentEndToEnd, WorkQueuedBeforeTheInterruptIsStillSent) {
    std::string steps;
    constexpr int events = 300;
    for (int i = 0; i < events; ++i)
        steps +=
            R"({"file_open": {"pid": 100, "name": "\\Device\\HarddiskVolume3\\Users\\alice\\Projects\\f)" +
            std::to_string(i) + R"(.txt", "share_access": 2}},)";
    const std::string scenario =
        R"({"format": 1, "machine": {"processes": [{"pid": 100, "image": "\\Device\\HarddiskVolume3\\Tools\\editor.exe"}]},
      "steps": [)" +
        steps + R"({"interrupt": {}}]})";
    const agent_run result = run({}, scenario);
    EXPECT_EQ(result.process.exit_status, 0);
    EXPECT_EQ(result.datagrams.size(), static_cast<std::size_t>(events));
}

// Short-lived programs, reused process ids and processes older than the agent:
// every file event is reported as made by the program that made it, or as
// "UNKNOWN" when nothing names it any more, never dropped.
namespace attribution {

const std::string volume = R"(\\Device\\HarddiskVolume3)";
const std::string alice_sid = "S-1-5-21-7-8-9-1001";
const std::string secret = R"(\\Users\\alice\\Documents\\secret.docx)";

// `machine_keys`: more keys of the machine, each followed by a comma.
std::string scenario(const std::string& steps, const std::string& older_processes = "",
                     const std::string& machine_keys = "") {
    return R"({"format": 1, "machine": {)" + machine_keys + R"(
      "accounts": [{"sid": ")" +
           alice_sid + R"(", "name": "alice", "domain": "HOST"}],
      "processes": [{"pid": 3012, "image": ")" +
           volume + R"(\\Windows\\explorer.exe", "user_sid": ")" + alice_sid +
           R"("}, {"pid": 1024, "image": ")" + volume +
           R"(\\Windows\\System32\\svchost.exe", "user_sid": "S-1-5-18"})" + older_processes + R"(],
      "files": [{"path": "C:\\Users\\alice\\Documents\\secret.docx", "type": "file"}]},
      "steps": [)" +
           steps + R"({"interrupt": {}}]})";
}
// `image` is the program's path under the volume, its last part the image file name.
std::string start_step(unsigned pid, const std::string& image) {
    const std::string name = image.substr(image.rfind('\\') + 1);
    return R"({"process_start": {"pid": )" + std::to_string(pid) +
           R"(, "parent_pid": 3012, "image_file_name": ")" + name + R"(", "command_line": ")" + name +
           R"(", "user_sid": ")" + alice_sid + R"(", "image": ")" + volume + image + R"("}},)";
}
std::string child_step(unsigned pid, unsigned parent, const std::string& image) {
    std::string step = start_step(pid, image);
    return step.replace(step.find("3012"), 4, std::to_string(parent));
}
std::string session_step(const char* kind, const char* session) {
    return std::string(R"({")") + kind + R"(": {"session": ")" + session + R"("}},)";
}
constexpr const char* kernel_session = "Velmar_Trace_WindowsKernel";
constexpr const char* file_session = "Velmar_Trace_FileKernel";
std::string end_step(unsigned pid, const std::string& name) {
    return R"({"process_end": {"pid": )" + std::to_string(pid) + R"(, "image_file_name": ")" + name +
           R"("}},)";
}
std::string open_step(unsigned pid, const std::string& path = secret) {
    return R"({"file_open": {"pid": )" + std::to_string(pid) + R"(, "name": ")" + volume + path +
           R"(", "share_access": 1}},)";
}

std::string lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}
std::string started(unsigned pid, const std::string& name) {
    return R"({"Parent_Process_Name":"c:\\windows\\explorer.exe","Operation":"PROCESS STARTED","Process_Name":")" +
           lower(name) + R"(","Process_ID":)" + std::to_string(pid) +
           R"(,"Parent_Process_ID":3012,"Command_Line":")" + name +
           R"(","Event_Type":"PROCESS","User":"alice","User_SID":")" + alice_sid + R"("})";
}
std::string ended(unsigned pid, const std::string& name) {
    return R"({"Operation":"PROCESS ENDED","Process_Name":")" + lower(name) + R"(","Process_ID":)" +
           std::to_string(pid) + R"(,"Event_Type":"PROCESS"})";
}
// `process` as it appears in JSON text.
std::string secret_read(unsigned pid, const std::string& process, const std::string& owner = "alice") {
    return R"({"id":12,"proc":)" + std::to_string(pid) +
           R"(,"Operation":"READ","Filename":"C:\\Users\\alice\\Documents\\secret.docx","Path_Type":"FILE","Process_Name":")" +
           process + R"(","Process_Owner":")" + owner + R"(","Event_Type":"FILESYSTEM"})";
}

template <typename T> std::vector<T> times(std::size_t count, const std::vector<T>& items) {
    std::vector<T> all;
    for (std::size_t i = 0; i < count; ++i)
        all.insert(all.end(), items.begin(), items.end());
    return all;
}

} // namespace attribution

TEST_F(AgentEndToEnd, EveryOpenOfAShortLivedProgramArrivesNamedForIt) {
    using namespace attribution;
    // Each round the dropper starts, opens the document and ends, while an
    // excluded service keeps the workers busy with opens of its own.
    const std::string round = start_step(900, R"(\\Users\\alice\\Temp\\dropper.exe)") + open_step(1024) +
                              open_step(900) + open_step(1024) + end_step(900, "dropper.exe");
    const agent_run result = run({}, scenario(R"({"repeat": {"times": 1000, "steps": [)" +
                                              round.substr(0, round.size() - 1) + "]}},"));
    EXPECT_EQ(result.process.exit_status, 0) << result.process.err;
    const std::vector<std::string> expected = times<std::string>(
        1000, {started(900, "dropper.exe"), secret_read(900, R"(C:\\Users\\alice\\Temp\\dropper.exe)"),
               ended(900, "dropper.exe")});
    EXPECT_EQ(sorted(result.datagrams), sorted(expected));
    EXPECT_EQ(result.process.out.find("PROC ID FALLBACK ERROR"), std::string::npos);
}

TEST_F(AgentEndToEnd, AReusedProcessIdNeverPassesItsPredecessorsOpensOn) {
    using namespace attribution;
    const std::string round =
        start_step(777, R"(\\Users\\alice\\Temp\\evil.exe)") + open_step(777) + end_step(777, "evil.exe") +
        start_step(777, R"(\\Users\\alice\\Temp\\calc.exe)") + end_step(777, "calc.exe");
    const agent_run result = run(
        {}, scenario(R"({"repeat": {"times": 500, "steps": [)" + round.substr(0, round.size() - 1) + "]}},"));
    EXPECT_EQ(result.process.exit_status, 0) << result.process.err;
    const std::vector<std::string> expected = times<std::string>(
        500, {started(777, "evil.exe"), secret_read(777, R"(C:\\Users\\alice\\Temp\\evil.exe)"),
              ended(777, "evil.exe"), started(777, "calc.exe"), ended(777, "calc.exe")});
    EXPECT_EQ(sorted(result.datagrams), sorted(expected));
}

// Windows hands each session's buffers over on its own timer: here the file
// session's records of a dropper, and of the program that took its id, arrive
// before the kernel session's, after both starts, and the dropper is gone: its
// open is named by its own start record's image name, the newcomer's by its path.
TEST_F(AgentEndToEnd, HeldSessionsStillNameTheDropperAndTheNewcomerForTheirOwnOpens) {
    using namespace attribution;
    const std::string steps = session_step("hold", kernel_session) + session_step("hold", file_session) +
                              start_step(777, R"(\\Users\\alice\\Temp\\dropper.exe)") + open_step(777) +
                              end_step(777, "dropper.exe") + start_step(777, R"(\\Windows\\calc.exe)") +
                              open_step(777) + session_step("release", file_session) +
                              session_step("release", kernel_session);
    const agent_run result = run({}, scenario(steps));
    EXPECT_EQ(result.process.exit_status, 0) << result.process.err;
    EXPECT_EQ(sorted(result.datagrams),
              sorted({started(777, "dropper.exe"), secret_read(777, "dropper.exe"), ended(777, "dropper.exe"),
                      started(777, "calc.exe"), secret_read(777, R"(C:\\Windows\\calc.exe)")}));
}

// Running before the agent, named by the kernel's rundown: its open is named
// though the process had ended before the file session delivered it.
TEST_F(AgentEndToEnd, AnOlderProcessThatEndsWhileTheFileSessionWaitsIsNamedFromTheRundown) {
    using namespace attribution;
    const std::string backup = R"(, {"pid": 600, "image": ")" + volume +
                               R"(\\Tools\\backup.exe", "user_sid": ")" + alice_sid +
                               R"(", "parent_pid": 3012})";
    const std::string steps = session_step("hold", file_session) + open_step(600) +
                              end_step(600, "backup.exe") + session_step("release", file_session);
    const agent_run result = run({}, scenario(steps, backup));
    EXPECT_EQ(result.process.exit_status, 0) << result.process.err;
    EXPECT_EQ(sorted(result.datagrams),
              sorted({secret_read(600, R"(C:\\Tools\\backup.exe)"), ended(600, "backup.exe")}));
    EXPECT_EQ(result.process.out.find("PROC ID FALLBACK ERROR"), std::string::npos);
}

// A launcher that ends right after starting its child: the child's parent is
// named by the launcher's life at the child's start, not looked up too late.
TEST_F(AgentEndToEnd, EveryChildNamesTheParentThatEndedRightAfterStartingIt) {
    using namespace attribution;
    const std::string round = start_step(2000, R"(\\Windows\\System32\\cmd.exe)") +
                              child_step(2001, 2000, R"(\\Users\\alice\\Temp\\stage2.exe)") +
                              end_step(2000, "cmd.exe") + end_step(2001, "stage2.exe");
    const agent_run result = run(
        {}, scenario(R"({"repeat": {"times": 100, "steps": [)" + round.substr(0, round.size() - 1) + "]}},"));
    EXPECT_EQ(result.process.exit_status, 0) << result.process.err;
    std::string child = started(2001, "stage2.exe");
    child.replace(child.find(R"(c:\\windows\\explorer.exe)"),
                  std::string(R"(c:\\windows\\explorer.exe)").size(), R"(c:\\windows\\system32\\cmd.exe)");
    child.replace(child.find("3012"), 4, "2000");
    const std::vector<std::string> expected = times<std::string>(
        100, {started(2000, "cmd.exe"), child, ended(2000, "cmd.exe"), ended(2001, "stage2.exe")});
    EXPECT_EQ(sorted(result.datagrams), sorted(expected));
}

// In real-time delivery the sessions' buffers reach the agent in batches of
// their own: no open is ever blamed on the program that took the id after
// the dropper: each is named by the dropper's path, by the name its own start
// record gives (the dropper was gone when that record came), or UNKNOWN.
TEST_F(AgentEndToEnd, InRealTimeDeliveryNoOpenIsBlamedOnTheNewcomer) {
    using namespace attribution;
    const std::string round = start_step(777, R"(\\Users\\alice\\Temp\\dropper.exe)") + open_step(777) +
                              end_step(777, "dropper.exe") + start_step(777, R"(\\Windows\\calc.exe)") +
                              end_step(777, "calc.exe");
    const agent_run result = run(
        {}, scenario(R"({"repeat": {"times": 2000, "steps": [)" + round.substr(0, round.size() - 1) + "]}},",
                     "", R"("delivery": "real_time",)"));
    EXPECT_EQ(result.process.exit_status, 0) << result.process.err;
    const std::string dropper = secret_read(777, R"(C:\\Users\\alice\\Temp\\dropper.exe)");
    const std::string by_record = secret_read(777, "dropper.exe");
    const std::string unknown = secret_read(777, "UNKNOWN", "UNKNOWN");
    std::size_t named = 0;
    std::size_t by_name = 0;
    std::size_t unnamed = 0;
    for (const std::string& datagram : result.datagrams) {
        if (datagram.find(R"("id":12)") == std::string::npos)
            continue;
        EXPECT_TRUE(datagram == dropper || datagram == by_record || datagram == unknown) << datagram;
        named += datagram == dropper ? 1 : 0;
        by_name += datagram == by_record ? 1 : 0;
        unnamed += datagram == unknown ? 1 : 0;
    }
    EXPECT_LE(named + by_name + unnamed, 2000u);
    std::cout << "real-time pid reuse: " << named << " by path, " << by_name << " by the record's name, "
              << unnamed << " UNKNOWN of 2000\n"
              << result.process.err;
}

TEST_F(AgentEndToEnd, AProcessOlderThanTheAgentIsNamedAfterItEnds) {
    using namespace attribution;
    // Seen first by its opens, then ended and gone from the machine before
    // their tasks need to name it; a later open under its id names nothing.
    const std::string backup = R"(, {"pid": 600, "image": ")" + volume +
                               R"(\\Tools\\backup.exe", "user_sid": ")" + alice_sid + R"("})";
    const agent_run result = run(
        {}, scenario(open_step(600) + open_step(600) + end_step(600, "backup.exe") + open_step(600), backup));
    EXPECT_EQ(result.process.exit_status, 0) << result.process.err;
    const std::string named = secret_read(600, R"(C:\\Tools\\backup.exe)");
    EXPECT_EQ(sorted(result.datagrams),
              sorted({named, named, ended(600, "backup.exe"), secret_read(600, "UNKNOWN", "UNKNOWN")}));
    const std::vector<std::string> console = lines_of(result.process.out);
    EXPECT_EQ(std::count(console.begin(), console.end(), "PROC ID FALLBACK ERROR: 87"), 1);
}

TEST_F(AgentEndToEnd, AnOpenByAProcessNeverSeenAndGoneIsSentAsUnknown) {
    using namespace attribution;
    // Exclusions cannot match a process nothing names, not even one written
    // "UNKNOWN"; a known excluded program stays excluded after it ended.
    const std::string steps = open_step(4444) + start_step(800, R"(\\Windows\\notepad.exe)") +
                              open_step(800) + end_step(800, "notepad.exe") +
                              start_step(810, R"(\\Windows\\System32\\svchost.exe)") + open_step(810) +
                              end_step(810, "svchost.exe");
    const agent_run result =
        run({"--excludeproc", "UNKNOWN", "--excludeproc", "notepad.exe"}, scenario(steps));
    EXPECT_EQ(result.process.exit_status, 0) << result.process.err;
    EXPECT_EQ(result.datagrams, std::vector<std::string>{secret_read(4444, "UNKNOWN", "UNKNOWN")});
    const std::vector<std::string> console = lines_of(result.process.out);
    for (const std::string line : {"PROC ID FALLBACK ERROR: 87",
                                   "READ C:\\Users\\alice\\Documents\\secret.docx FILE UNKNOWN 4444 UNKNOWN"})
        EXPECT_EQ(std::count(console.begin(), console.end(), line), 1) << line;
}

TEST_F(AgentEndToEnd, WithoutAdministrativeRightsTheAgentSaysSoAndExitsWithOne) {
    const agent_run result =
        run({}, R"({"format": 1, "machine": {"admin": false}, "steps": [{"interrupt": {}}]})");
    EXPECT_EQ(result.process.exit_status, 1);
    EXPECT_NE(result.process.err.find("Need to be an admin"), std::string::npos) << result.process.err;
    EXPECT_NE(result.process.err.find("trace session Velmar_Trace_"), std::string::npos);
    EXPECT_TRUE(result.datagrams.empty());
}

TEST_F(AgentEndToEnd, OlderWindowsAndARefusedLeftoverSessionStillReportProcesses) {
    const std::string process_steps = R"("steps": [
        {"process_start": {"pid": 50, "parent_pid": 4, "image_file_name": "cmd.exe", "command_line": "cmd /c build", "user_sid": "S-1-5-18"}},
        {"interrupt": {}}]})";
    const std::string started =
        R"({"Parent_Process_Name":"","Operation":"PROCESS STARTED","Process_Name":"cmd.exe","Process_ID":50,"Parent_Process_ID":4,"Command_Line":"cmd /c build","Event_Type":"PROCESS","User":"SYSTEM","User_SID":"S-1-5-18"})";
    for (
        const std::string machine :
        {R"({"windows_version": "6.1"})",
         // Attached to: it takes our provider.
         R"({"running_sessions": [{"name": "Velmar_Trace_FileKernel", "stop_status": 5, "providers": ["edd08927-9cc4-4e65-b970-c2560fb5c289"]}]})",
         R"({"running_sessions": [{"name": "Velmar_Trace_WindowsKernel", "stop_status": 87, "enable_flags": 1}]})",
         R"({"running_sessions": [{"name": "Velmar_Trace_WindowsKernel", "stop_status": 0}]})"}) {
        const agent_run result = run({}, R"({"format": 1, "machine": )" + machine + "," + process_steps);
        EXPECT_EQ(result.process.exit_status, 0) << machine << result.process.err;
        EXPECT_EQ(result.datagrams, std::vector<std::string>{started}) << machine;
    }
}

// Windows before 8.1 takes no event-id filter (the file session enables the
// provider without one there); the agent's own filter still reports the same
// events, and a version-0 open (its layout unknown) still is not one of them.
TEST_F(AgentEndToEnd, EveryWindowsVersionReportsTheSameFileEvents) {
    std::string scenario = project_scenario;
    scenario.replace(
        scenario.find(R"({"interrupt": {}})"), 0,
        R"({"file_open": {"pid": 100, "name": "\\Device\\HarddiskVolume3\\Users\\alice\\Projects\\main.cpp", "share_access": 1, "version": 0}},
    )");
    const std::size_t machine = scenario.find(R"("machine": {)") + std::string(R"("machine": {)").size();
    for (const std::string version : {"6.1", "6.2", "6.3", "10.0"}) {
        SCOPED_TRACE(version);
        std::string with_version = scenario;
        with_version.insert(machine, R"("windows_version": ")" + version + R"(", )");
        const agent_run result = run({"--path", "C:\\Users"}, with_version);
        EXPECT_EQ(result.process.exit_status, 0) << result.process.err;
        EXPECT_EQ(sorted(result.datagrams), sorted({main_cpp_read, notes_written, old_cpp_deleted}));
    }
}

// A leftover session of our name that we may not stop and that cannot deliver
// our provider's records: one line says which and why, status 1, at once.
TEST_F(AgentEndToEnd, ALeftoverSessionThatSwallowsMonitoringEndsTheRunWithOne) {
    struct leftover_case {
        std::string session;
        std::string why;
    };
    const leftover_case cases[] = {
        {R"({"name": "Velmar_Trace_FileKernel", "stop_status": 5})",
         "Velmar_Trace_FileKernel failed: a running session of this name may not be stopped, and it does not "
         "take "
         "provider edd08927-9cc4-4e65-b970-c2560fb5c289"},
        {R"({"name": "Velmar_Trace_WindowsKernel", "stop_status": 87, "enable_flags": 16})",
         "Velmar_Trace_WindowsKernel failed: a running session of this name may not be stopped, and it has "
         "enable "
         "flags 0x00000010 where 0x00000001 are needed"},
    };
    for (const leftover_case& c : cases) {
        const agent_run result =
            run({}, R"({"format": 1, "machine": {"running_sessions": [)" + c.session + R"(]}, "steps": []})");
        EXPECT_EQ(result.process.exit_status, 1) << c.session;
        EXPECT_EQ(result.process.err, "tallowick: trace session " + c.why + "\n");
        EXPECT_EQ(lines_of(result.process.out),
                  (std::vector<std::string>{"starting traces...", "stopping traces..."}));
    }
}

TEST_F(AgentEndToEnd, ABadScenarioStopsBeforeAnySessionWithStatusTwo) {
    const process_result unreadable =
        run_process(agent, {}, {"TALLOWICK_SIM_SCENARIO=" + ::testing::TempDir() + "no-such-scenario.json"});
    EXPECT_EQ(unreadable.exit_status, 2);
    EXPECT_EQ(unreadable.out, "");
    EXPECT_NE(unreadable.err.find("no-such-scenario.json"), std::string::npos);

    const agent_run typo = run({}, R"({"format": 1, "steps": [{"file_opn": {}}]})");
    EXPECT_EQ(typo.process.exit_status, 2);
    EXPECT_EQ(typo.process.out, "");
    EXPECT_NE(typo.process.err.find("/steps/0"), std::string::npos) << typo.process.err;
    EXPECT_EQ(std::count(typo.process.err.begin(), typo.process.err.end(), '\n'), 1);

    // Nesting far deeper than a recursive reader's stack holds.
    for (const std::string& deep :
         {R"({"format": 1, "steps": )" + std::string(200'000, '[') + std::string(200'000, ']') + "}",
          std::string(200'000, '[')}) {
        const agent_run nested = run({}, deep);
        EXPECT_EQ(nested.process.exit_status, 2);
        EXPECT_EQ(nested.process.out, "");
        EXPECT_EQ(std::count(nested.process.err.begin(), nested.process.err.end(), '\n'), 1)
            << nested.process.err;
        EXPECT_NE(nested.process.err.find("tallowick-e2e-scenario.json: "), std::string::npos)
            << nested.process.err;
    }
}

} // namespace
} // namespace tallowick::testing
