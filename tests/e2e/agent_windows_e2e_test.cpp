// The unmodified Tallowick.exe under Wine: its trace calls answered by the
// simulated machine through the tdh harness (a scenario naming a real process
// and real files), everything else by Wine — processes, tokens, accounts,
// volumes, file status, console and Winsock. Datagrams are received on a real
// socket.
#include "collector/message_check.h"
#include "support/child_process.h"
#include "support/json_text.h"
#include "support/run_process.h"
#include "support/udp_receiver.h"
#include "support/windows_support.h"
#include "text_lines.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tallowick::testing {
namespace {
namespace fs = std::filesystem;

std::vector<std::string> sorted(std::vector<std::string> items) {
    std::sort(items.begin(), items.end());
    return items;
}

// The folder beside the test programs' where the harness lies with its copy of
// the program.
fs::path harness_folder() {
    return fs::path(own_program_path()).parent_path().parent_path() / "harness";
}

// The device name of a drive ("C:" -> "\Device\HarddiskVolume1").
std::string device_of(const wchar_t* drive) {
    wchar_t device[MAX_PATH] = {};
    if (QueryDosDeviceW(drive, device, MAX_PATH) == 0)
        return "<no device for " + narrow(drive) + ">";
    return narrow(device);
}

std::string current_user() {
    wchar_t name[256] = {};
    DWORD size = 256;
    return GetUserNameW(name, &size) ? narrow(name) : "<no user>";
}

// Runs the program from `folder` as the current directory and puts the
// previous one back.
class scoped_current_directory {
  public:
    explicit scoped_current_directory(const fs::path& folder) : previous_(fs::current_path()) {
        fs::current_path(folder);
    }
    ~scoped_current_directory() { fs::current_path(previous_); }
    scoped_current_directory(const scoped_current_directory&) = delete;
    scoped_current_directory& operator=(const scoped_current_directory&) = delete;

  private:
    fs::path previous_;
};

// A copy of the harnessed program that Wine runs as on Windows 7 (its
// per-program version setting), for as long as this object lives.
class scoped_windows7_program {
  public:
    explicit scoped_windows7_program(const std::wstring& name)
        : path_(harness_folder() / name), key_(key_of(name)) {
        fs::copy_file(harness_folder() / "Tallowick.exe", path_, fs::copy_options::overwrite_existing);
        HKEY key = nullptr;
        if (RegCreateKeyExW(HKEY_CURRENT_USER, key_.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                            nullptr) == ERROR_SUCCESS) {
            static constexpr wchar_t version[] = L"win7";
            RegSetValueExW(key, L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version),
                           sizeof version);
            RegCloseKey(key);
        }
    }
    ~scoped_windows7_program() {
        RegDeleteKeyW(HKEY_CURRENT_USER, key_.c_str());
        std::error_code ignored;
        fs::remove(path_, ignored);
    }
    scoped_windows7_program(const scoped_windows7_program&) = delete;
    scoped_windows7_program& operator=(const scoped_windows7_program&) = delete;
    const fs::path& path() const { return path_; }

  private:
    static std::wstring key_of(const std::wstring& name) { return L"Software\\Wine\\AppDefaults\\" + name; }
    fs::path path_;
    std::wstring key_;
};

struct agent_run {
    process_result process;
    std::vector<std::string> datagrams;
    std::vector<std::string> console;
};

// A folder on C: with real files (one with a non-ASCII name) and a live idle
// process whose image lies there too, shared by the cases.
class AgentUnderWine : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        folder_ = fs::path(L"C:\\tallowick-e2e-" + std::to_wstring(GetCurrentProcessId()));
        fs::create_directories(*folder_ / "drafts");
        for (const fs::path& name : {fs::path(L"Quarterly Report.docx"), fs::path(non_ascii_name())})
            std::ofstream(*folder_ / name) << "text";
        fs::copy_file(fs::path(own_program_path()).parent_path() / "tallowick_idle_child.exe",
                      *folder_ / "tallowick_idle_child.exe", fs::copy_options::overwrite_existing);
        child_ = std::make_unique<child_process>(narrow((*folder_ / "tallowick_idle_child.exe").wstring()),
                                                 std::vector<std::string>{});
    }
    static void TearDownTestSuite() {
        child_->finish();
        child_.reset();
        std::error_code ignored;
        fs::remove_all(*folder_, ignored);
    }

    static std::wstring non_ascii_name() { return L"Zo\u00EB \u6587\u4EF6.docx"; }
    // A file of the folder in drive form and in the device form of the records.
    static std::string drive_path(const fs::path& name) { return narrow((*folder_ / name).wstring()); }
    static std::string device_path(const fs::path& name) {
        return device_of(L"C:") + drive_path(name).substr(2);
    }
    static fs::path in_folder(const fs::path& name) { return *folder_ / name; }
    static std::uint32_t child_pid() { return child_->pid(); }
    static std::string child_image() { return drive_path("tallowick_idle_child.exe"); }
    // As a process start names its parent: lower-cased.
    static std::string lower_child_image() {
        std::string image = child_image();
        std::transform(image.begin(), image.end(), image.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        return image;
    }
    static std::string scope() { return drive_path(""); }

    // Runs the harnessed program on `scenario_json` from `working_directory`
    // (the files' folder unless given) and collects every datagram it sent.
    agent_run run(const std::vector<std::string>& args, const std::string& scenario_json,
                  const fs::path& working_directory = {},
                  const fs::path& program = harness_folder() / "Tallowick.exe") {
        const fs::path scenario = fs::path(::testing::TempDir()) / "tallowick-wine-scenario.json";
        std::ofstream(scenario, std::ios::binary) << scenario_json;
        agent_run result;
        {
            const scoped_current_directory in(working_directory.empty() ? *folder_ : working_directory);
            std::vector<std::string> environment = {"WINEDLLOVERRIDES=tdh=n",
                                                    "TALLOWICK_SIM_SCENARIO=" + narrow(scenario.wstring())};
            // Wine's debug channels for the program alone (e.g. +relay: every
            // system call it makes, on Wine's own standard error).
            if (const char* channels = std::getenv("TALLOWICK_AGENT_WINEDEBUG"))
                environment.push_back("WINEDEBUG=" + std::string(channels));
            result.process = run_process(narrow(program.wstring()), args, environment);
        }
        result.datagrams = receiver.receive_pending();
        for (const std::string& datagram : result.datagrams) {
            const collector::check_result checked = collector::check_message(datagram);
            EXPECT_TRUE(checked.ok()) << checked.problem << ": " << datagram;
        }
        result.console = lines_of(result.process.out);
        std::error_code ignored;
        fs::remove(scenario, ignored);
        return result;
    }

    // A file event of the idle child on one of the folder's files.
    static std::string file_step(const std::string& kind, const fs::path& name,
                                 const std::string& extra = "") {
        return R"({")" + kind + R"(": {"pid": )" + std::to_string(child_pid()) + R"(, "name": ")" +
               json_text(device_path(name)) + "\"" + extra + "}}";
    }
    // The steps, then Ctrl+C (`interrupt_delay_ms` after the last of them).
    static std::string scenario_of(const std::vector<std::string>& steps, const std::string& machine = "{}",
                                   int interrupt_delay_ms = 0) {
        std::string text = R"({"format": 1, "machine": )" + machine + R"(, "steps": [)";
        for (const std::string& step : steps)
            text += step + ",";
        return text + R"({"interrupt": {}, "delay_ms": )" + std::to_string(interrupt_delay_ms) + "}]}";
    }
    // The datagram of a file event of the idle child, as the agent reports it.
    static std::string file_datagram(int id, const std::string& operation, const fs::path& name,
                                     const std::string& path_type) {
        std::string text = R"({"id":)" + std::to_string(id) + R"(,"proc":)" + std::to_string(child_pid()) +
                           R"(,"Operation":")" + operation + R"(","Filename":")" +
                           json_text(drive_path(name)) + "\",";
        if (!path_type.empty())
            text += R"("Path_Type":")" + path_type + "\",";
        return text + R"("Process_Name":")" + json_text(child_image()) + R"(","Process_Owner":")" +
               json_text(current_user()) + R"(","Event_Type":"FILESYSTEM"})";
    }

    udp_receiver receiver;

  private:
    static inline std::optional<fs::path> folder_;
    static inline std::unique_ptr<child_process> child_;
};

TEST_F(AgentUnderWine, FileActivityIsReportedWithTheRealImageOwnerAndPathType) {
    const agent_run result =
        run({"--path", scope()},
            scenario_of({file_step("file_open", "Quarterly Report.docx", R"(, "share_access": 1)"),
                         file_step("file_open", non_ascii_name(), R"(, "share_access": 3)"),
                         file_step("file_rename", "Quarterly Report.docx"),
                         file_step("file_delete", "old draft.docx"), file_step("file_create", "drafts"),
                         file_step("file_open", "missing.docx", R"(, "share_access": 2)")}));
    EXPECT_EQ(result.process.exit_status, 0) << result.process.err;
    EXPECT_EQ(without_run_summary(result.process.err), "");
    EXPECT_EQ(sorted(result.datagrams), sorted({file_datagram(12, "READ", "Quarterly Report.docx", "FILE"),
                                                file_datagram(12, "READ + WRITE", non_ascii_name(), "FILE"),
                                                file_datagram(27, "RENAME", "Quarterly Report.docx", "FILE"),
                                                file_datagram(26, "DELETE", "old draft.docx", ""),
                                                file_datagram(30, "CREATED", "drafts", "DIR"),
                                                file_datagram(12, "WRITE", "missing.docx", "N/A")}));
    // Redirected console lines carry non-ASCII names as UTF-8, whatever the code page.
    const std::string non_ascii_line = "READ + WRITE " + drive_path(non_ascii_name()) + " FILE " +
                                       child_image() + " " + std::to_string(child_pid()) + " " +
                                       current_user();
    EXPECT_EQ(std::count(result.console.begin(), result.console.end(), non_ascii_line), 1)
        << result.process.out;
}

// With the envelope: this computer's DNS host name, as Windows gives it, and one
// sequence from the agent's STARTED to its STOPPED.
TEST_F(AgentUnderWine, WithTheEnvelopeEveryDatagramNamesThisComputerInOneSequence) {
    wchar_t name[256] = {};
    DWORD units = 256;
    ASSERT_NE(GetComputerNameExW(ComputerNameDnsHostname, name, &units), 0);
    const agent_run result =
        run({"--path", scope(), "--envelope"},
            scenario_of({file_step("file_open", "Quarterly Report.docx", R"(, "share_access": 1)")}));
    EXPECT_EQ(result.process.exit_status, 0) << result.process.err;
    ASSERT_EQ(result.datagrams.size(), 3u);
    std::vector<std::string> operations;
    for (const std::string& datagram : result.datagrams) {
        const collector::check_result checked = collector::check_message(datagram);
        ASSERT_TRUE(checked.envelope) << datagram;
        EXPECT_EQ(checked.envelope->host, narrow(name));
        EXPECT_EQ(checked.envelope->run_id, collector::check_message(result.datagrams[0]).envelope->run_id);
        operations.push_back(std::to_string(checked.envelope->sequence) + " " + checked.kind.operation);
    }
    std::sort(operations.begin(), operations.end());
    EXPECT_EQ(operations, (std::vector<std::string>{"1 STARTED", "2 READ", "3 STOPPED"}));
}

// The file session stopped, or its provider switched off, by another program:
// the program puts it back through the real calls, and an open 3 s later arrives.
TEST_F(AgentUnderWine, AFileSessionChangedFromOutsideIsRestored) {
    const struct {
        std::string outside;
        std::string line;
    } cases[] = {
        {R"({"outside": {"stop_session": "Velmar_Trace_FileKernel"}})",
         "tallowick: trace session Velmar_Trace_FileKernel: was stopped from outside; started again"},
        {R"({"outside": {"disable_provider": {"session": "Velmar_Trace_FileKernel", "provider": "Microsoft-Windows-Kernel-File"}}})",
         "tallowick: trace session Velmar_Trace_FileKernel: provider Microsoft-Windows-Kernel-File is no "
         "longer "
         "enabled; enabled again"},
    };
    for (const auto& test : cases) {
        const std::string open = file_step("file_open", "Quarterly Report.docx", R"(, "share_access": 1)");
        const agent_run result =
            run({"--path", scope()}, scenario_of({test.outside, R"({"delay_ms": 3000, )" + open.substr(1)}));
        EXPECT_EQ(result.process.exit_status, 0) << result.process.err;
        EXPECT_EQ(without_run_summary(result.process.err), test.line + "\n");
        EXPECT_EQ(result.datagrams,
                  std::vector<std::string>{file_datagram(12, "READ", "Quarterly Report.docx", "FILE")});
    }
}

TEST_F(AgentUnderWine, ProcessStartAndEndAreReportedWithTheRealParentAndAccount) {
    const std::string pid = std::to_string(child_pid() + 100000);
    const agent_run result = run(
        {},
        scenario_of(
            {R"({"process_start": {"pid": )" + pid + R"(, "parent_pid": )" + std::to_string(child_pid()) +
                 R"(, "image_file_name": "cmd.exe", "command_line": "cmd /c build", "user_sid": "S-1-5-18"}})",
             R"({"process_end": {"pid": )" + pid + R"(, "image_file_name": "cmd.exe"}})"}));
    EXPECT_EQ(result.process.exit_status, 0) << result.process.err;
    const std::string parent = lower_child_image();
    EXPECT_EQ(
        sorted(result.datagrams),
        sorted(
            {R"({"Parent_Process_Name":")" + json_text(parent) +
                 R"(","Operation":"PROCESS STARTED","Process_Name":"cmd.exe","Process_ID":)" + pid +
                 R"(,"Parent_Process_ID":)" + std::to_string(child_pid()) +
                 R"(,"Command_Line":"cmd /c build","Event_Type":"PROCESS","User":"SYSTEM","User_SID":"S-1-5-18"})",
             R"({"Operation":"PROCESS ENDED","Process_Name":"cmd.exe","Process_ID":)" + pid +
                 R"(,"Event_Type":"PROCESS"})"}));
}

// A process the agent saw start but cannot open (its id names nothing here) is
// named from its start record: image file name, and the account of its SID as
// the real account look-up gives it. After its end, an open under its id names
// nothing: sent as "UNKNOWN" after the real open's error line.
TEST_F(AgentUnderWine, AnOpenIsNamedByTheStartOfAProcessThatCannotBeOpened) {
    const std::string pid = std::to_string(child_pid() + 400000);
    const std::string open_step = R"({"file_open": {"pid": )" + pid + R"(, "name": ")" +
                                  json_text(device_path("Quarterly Report.docx")) +
                                  R"(", "share_access": 1}})";
    const agent_run result = run(
        {"--path", scope()},
        scenario_of(
            {R"({"process_start": {"pid": )" + pid + R"(, "parent_pid": )" + std::to_string(child_pid()) +
                 R"(, "image_file_name": "dropper.exe", "command_line": "dropper", "user_sid": "S-1-5-18"}})",
             open_step, R"({"process_end": {"pid": )" + pid + R"(, "image_file_name": "dropper.exe"}})",
             open_step}));
    EXPECT_EQ(result.process.exit_status, 0) << result.process.err;
    const auto read_by = [&](const std::string& process, const std::string& owner) {
        return R"({"id":12,"proc":)" + pid + R"(,"Operation":"READ","Filename":")" +
               json_text(drive_path("Quarterly Report.docx")) + R"(","Path_Type":"FILE","Process_Name":")" +
               process + R"(","Process_Owner":")" + owner + R"(","Event_Type":"FILESYSTEM"})";
    };
    const std::string parent = lower_child_image();
    EXPECT_EQ(
        sorted(result.datagrams),
        sorted(
            {R"({"Parent_Process_Name":")" + json_text(parent) +
                 R"(","Operation":"PROCESS STARTED","Process_Name":"dropper.exe","Process_ID":)" + pid +
                 R"(,"Parent_Process_ID":)" + std::to_string(child_pid()) +
                 R"(,"Command_Line":"dropper","Event_Type":"PROCESS","User":"SYSTEM","User_SID":"S-1-5-18"})",
             read_by("dropper.exe", "SYSTEM"),
             R"({"Operation":"PROCESS ENDED","Process_Name":"dropper.exe","Process_ID":)" + pid +
                 R"(,"Event_Type":"PROCESS"})",
             read_by("UNKNOWN", "UNKNOWN")}));
    EXPECT_EQ(std::count(result.console.begin(), result.console.end(), "PROC ID FALLBACK ERROR: 87"), 1);
}

// An image whose device path is longer than MAX_PATH (its drive path, which a
// program can still be started from, is not) is read whole: the open names
// the program by its full path.
TEST_F(AgentUnderWine, AProgramWhoseDevicePathIsLongerThanMaxPathIsNamedByItsFullPath) {
    const std::size_t room = 250 - drive_path("tallowick_idle_child.exe").size();
    const fs::path deep = fs::path(std::wstring(room / 2, L'a')) / std::wstring(room - room / 2 - 1, L'b');
    fs::create_directories(in_folder(deep));
    fs::copy_file(in_folder("tallowick_idle_child.exe"), in_folder(deep / "tallowick_idle_child.exe"),
                  fs::copy_options::overwrite_existing);
    const std::string image = drive_path(deep / "tallowick_idle_child.exe");
    ASSERT_LT(image.size(), 260u);
    ASSERT_GT(device_path(deep / "tallowick_idle_child.exe").size(), 260u);
    child_process deep_child(image, {});
    const std::string pid = std::to_string(deep_child.pid());
    const agent_run result =
        run({"--path", scope()},
            scenario_of({R"({"file_open": {"pid": )" + pid + R"(, "name": ")" +
                         json_text(device_path("Quarterly Report.docx")) + R"(", "share_access": 1}})"}));
    deep_child.finish();
    EXPECT_EQ(result.process.exit_status, 0) << result.process.err;
    EXPECT_EQ(result.datagrams,
              std::vector<std::string>{R"({"id":12,"proc":)" + pid + R"(,"Operation":"READ","Filename":")" +
                                       json_text(drive_path("Quarterly Report.docx")) +
                                       R"(","Path_Type":"FILE","Process_Name":")" + json_text(image) +
                                       R"(","Process_Owner":")" + json_text(current_user()) +
                                       R"(","Event_Type":"FILESYSTEM"})"});
}

TEST_F(AgentUnderWine, CtrlCStopsWithTheThreeConsoleLinesAfterSendingWhatWasQueued) {
    std::vector<std::string> steps;
    constexpr int events = 200;
    for (int i = 0; i < events; ++i)
        steps.push_back(file_step("file_open", "Quarterly Report.docx", R"(, "share_access": 1)"));
    // Ctrl+C a moment after the records, when most of their lines are out: it
    // must not land inside one of them (as it did while the C runtime buffered
    // the console's output whole blocks at a time).
    const agent_run result = run({}, scenario_of(steps, "{}", 500));
    EXPECT_EQ(result.process.exit_status, 0) << result.process.err;
    EXPECT_EQ(without_run_summary(result.process.err), "");
    EXPECT_EQ(result.datagrams.size(), static_cast<std::size_t>(events));
    // Every line whole; the lines of records still queued may follow the last
    // two, as the pool drains after the sessions stop.
    ASSERT_FALSE(result.console.empty());
    EXPECT_EQ(result.console.front(), "starting traces...");
    const auto& console = result.console;
    EXPECT_EQ(std::count(console.begin(), console.end(), "Caught interrupt signal..."), 1);
    EXPECT_EQ(std::count(console.begin(), console.end(), "stopping traces..."), 1);
    EXPECT_LT(std::find(console.begin(), console.end(), "Caught interrupt signal..."),
              std::find(console.begin(), console.end(), "stopping traces..."));
    EXPECT_EQ(std::count_if(console.begin(), console.end(),
                            [](const std::string& line) { return line.starts_with("READ C:\\"); }),
              events);
}

TEST_F(AgentUnderWine, WithoutAdministrativeRightsOneLineAndStatusOne) {
    const agent_run result = run({}, scenario_of({}, R"({"admin": false})"));
    EXPECT_EQ(result.process.exit_status, 1);
    EXPECT_EQ(lines_of(without_run_summary(result.process.err)).size(), 1u) << result.process.err;
    EXPECT_NE(result.process.err.find("Need to be an admin"), std::string::npos) << result.process.err;
    EXPECT_TRUE(result.datagrams.empty());
}

// Sessions of the agent's names left running by an earlier run: replaced where
// they may be stopped, joined where not and they take our provider; processes
// are reported either way.
TEST_F(AgentUnderWine, LeftoverSessionsOfTheSameNameDoNotStopTheReport) {
    const std::string pid = std::to_string(child_pid() + 200000);
    const std::string start =
        R"({"process_start": {"pid": )" + pid +
        R"(, "parent_pid": 4, "image_file_name": "cmd.exe", "command_line": "cmd", "user_sid": "S-1-5-18"}})";
    for (const std::string machine :
         {R"({"running_sessions": [{"name": "Velmar_Trace_FileKernel", "stop_status": 5,
                                    "providers": ["edd08927-9cc4-4e65-b970-c2560fb5c289"]}]})",
          R"({"running_sessions": [{"name": "Velmar_Trace_WindowsKernel", "stop_status": 0}]})",
          R"({"running_sessions": [{"name": "Velmar_Trace_FileKernel", "stop_status": 0},
                                   {"name": "Velmar_Trace_ProcessKernel", "stop_status": 0}]})"}) {
        const agent_run result = run({}, scenario_of({start}, machine));
        EXPECT_EQ(result.process.exit_status, 0) << machine << result.process.err;
        ASSERT_EQ(result.datagrams.size(), 1u) << machine;
        EXPECT_NE(result.datagrams[0].find(R"("Process_ID":)" + pid), std::string::npos)
            << result.datagrams[0];
    }
}

// A leftover session we may not stop and that cannot deliver our provider's
// records: one line names it and why, status 1, rather than watching nothing.
TEST_F(AgentUnderWine, ALeftoverSessionThatSwallowsFileEventsEndsTheRunWithOne) {
    const agent_run result = run(
        {},
        R"({"format": 1, "machine": {"running_sessions": [{"name": "Velmar_Trace_FileKernel", "stop_status": 5}]},
               "steps": []})");
    EXPECT_EQ(result.process.exit_status, 1);
    EXPECT_EQ(result.process.err,
              "tallowick: trace session Velmar_Trace_FileKernel failed: a running session of this name "
              "may not be "
              "stopped, and it does not take provider edd08927-9cc4-4e65-b970-c2560fb5c289\n");
    EXPECT_EQ(result.console, (std::vector<std::string>{"starting traces...", "stopping traces..."}));
}

// Before Windows 8 the process records come through the one kernel logger, "NT
// Kernel Logger", which the agent stops and replaces when an earlier run left
// it running, saying so. The file session enables its provider without an
// event-id filter, which Windows 7 does not know (the simulated machine refuses
// it). Wine answers the version test for a program of this name as Windows 7
// (a byte-for-byte copy of the program under another name).
TEST_F(AgentUnderWine, APreWindows8MachineReportsThroughTheKernelLogger) {
    const std::string pid = std::to_string(child_pid() + 300000);
    const std::string start =
        R"({"process_start": {"pid": )" + pid +
        R"(, "parent_pid": 4, "image_file_name": "cmd.exe", "command_line": "cmd", "user_sid": "S-1-5-18"}})";
    const scoped_windows7_program windows7(L"Tallowick-pre8.exe");
    for (
        const std::string machine :
        {R"({"windows_version": "6.1"})",
         R"({"windows_version": "6.1", "running_sessions": [{"name": "NT Kernel Logger", "stop_status": 0}]})"}) {
        const agent_run result = run(
            {},
            scenario_of({start, file_step("file_open", "Quarterly Report.docx", R"(, "share_access": 1)")},
                        machine),
            {}, windows7.path());
        EXPECT_EQ(result.process.exit_status, 0) << machine << result.process.err;
        // The one kernel logger may be another tool's: its stop is said.
        EXPECT_EQ(without_run_summary(result.process.err),
                  machine.find("NT Kernel Logger") == std::string::npos
                      ? ""
                      : "tallowick: trace session NT Kernel Logger is running already, perhaps another "
                        "tool's; stopping it to take its place\n");
        ASSERT_EQ(result.datagrams.size(), 2u) << machine;
        EXPECT_EQ(sorted(result.datagrams)[1], file_datagram(12, "READ", "Quarterly Report.docx", "FILE"));
    }
}

// Started from Z: (the build's drive), the agent must still name files on C:
// by C:: drive letters come from the letters' device names, not from the
// volume look-up, which answers a device path with the current drive here.
TEST_F(AgentUnderWine, FilesOnCAreNamedOnCWhenStartedFromAnotherDrive) {
    const agent_run result =
        run({}, scenario_of({file_step("file_open", "Quarterly Report.docx", R"(, "share_access": 1)")}),
            harness_folder());
    EXPECT_EQ(result.process.exit_status, 0) << result.process.err;
    EXPECT_EQ(result.datagrams,
              std::vector<std::string>{file_datagram(12, "READ", "Quarterly Report.docx", "FILE")});
}

// The harness refuses a program that imports a trace call it does not
// redirect, rather than letting it reach the system's stub.
TEST_F(AgentUnderWine, TheHarnessRefusesAProgramWithATraceCallItDoesNotCover) {
    const process_result run = run_process(narrow((harness_folder() / "uncovered_trace_call.exe").wstring()),
                                           {}, {"WINEDLLOVERRIDES=tdh=n"});
    EXPECT_EQ(run.exit_status, 3);
    EXPECT_EQ(lines_of(without_run_summary(run.err)).size(), 1u) << run.err;
    EXPECT_NE(run.err.find("StopTraceW"), std::string::npos) << run.err;
}

} // namespace
} // namespace tallowick::testing
