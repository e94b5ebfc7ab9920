#include "monitor/file_provider_setup.h"
#include "monitor/process_tracker.h"

#include "platform/utf_codec.h"
#include "platform/windows_facts.h"
#include "provider_harness.h"

#include <gtest/gtest.h>

namespace tallowick::monitor {
namespace {

using namespace testing;
using simulated::describe_file_event;
using simulated::record_property;

constexpr unsigned word = 100, tenth = 10;
// Before every time stamp the tests give.
constexpr std::int64_t created_early = 1;
const std::string word_image = "C:\\Program Files\\Office\\WINWORD.EXE";
const std::string volume = "\\Device\\HarddiskVolume3";

simulated::machine_inventory file_machine() {
    simulated::machine_inventory model;
    const std::string alice = "S-1-5-21-1-2-3-1001";
    model.processes = {
        {word, volume + "\\Program Files\\Office\\WINWORD.EXE", alice, simulated::process_access::full, 1, "",
         created_early},
        {tenth, volume + "\\Tools\\ten.exe", alice, simulated::process_access::full},
    };
    model.accounts.push_back({alice, "alice", "DESKTOP-1"});
    return model;
}

// An event 12 of WINWORD opening `path` (below the volume) for reading.
simulated::record_description open_of(const std::string& path, unsigned pid = word) {
    return describe_file_event({.id = platform::file_create_event,
                                .process_id = pid,
                                .name = platform::utf8_to_utf16(volume + path),
                                .share_access = 1});
}

simulated::record_description path_event(std::uint16_t id, const std::string& path, unsigned pid = word) {
    return describe_file_event({.id = id, .process_id = pid, .name = platform::utf8_to_utf16(volume + path)});
}

std::string open_json(const std::string& path, unsigned pid = word, const std::string& image = word_image) {
    return "{\"id\":12,\"proc\":" + std::to_string(pid) + ",\"Operation\":\"READ\",\"Filename\":\"" +
           json_text("C:" + path) + "\",\"Path_Type\":\"N/A\",\"Process_Name\":\"" + json_text(image) +
           "\",\"Process_Owner\":\"alice\",\"Event_Type\":\"FILESYSTEM\"}";
}

class FileProvider : public provider_harness {
  protected:
    FileProvider() : provider_harness(file_machine()) {
        tracing.providers = {{u"Microsoft-Windows-Kernel-File", tallowick::platform::kernel_file_provider}};
    }

    outcome run(const simulated::record_description& description) {
        return provider_harness::run(description, [this](pool::thread_pool& pool) {
            etw::provider<std::uint64_t> provider(u"Microsoft-Windows-Kernel-File");
            setup_filekernel_provider(provider, pool, scope, sink, tracker);
            return provider;
        });
    }

    // Every name is in scope: each device path holds a backslash.
    event_scope scope = scope_of({"\\"});
    process_tracker tracker;
};

TEST_F(FileProvider, AsksForFileEventsByKeywordAndId) {
    pool::thread_pool pool(1);
    etw::provider<std::uint64_t> provider(u"Microsoft-Windows-Kernel-File");
    setup_filekernel_provider(provider, pool, scope, sink, tracker);
    EXPECT_EQ(provider.any_keywords, 0x1C80u);
    EXPECT_EQ(provider.all_keywords, 0u);
    EXPECT_EQ(provider.level, 5);
    ASSERT_EQ(provider.filters().size(), 1u);
    EXPECT_EQ(provider.filters().front().event_ids(), (std::vector<std::uint16_t>{12, 26, 27, 30}));
}

TEST_F(FileProvider, NameTestsDropNoiseWithTheirOwnCaseRules) {
    struct name_case {
        const char* path;
        bool passes;
    };
    const name_case cases[] = {
        {"\\Users\\alice\\desktop.ini", false},
        {"\\Users\\alice\\Desktop.ini", true},
        {"\\Users\\alice\\AppData\\Local\\x.txt", false},
        {"\\Users\\alice\\APPDATA\\x.txt", false},
        {"\\ProgramData\\Microsoft\\Search\\Data\\x.edb", false},
        {"\\programdata\\microsoft\\search\\data\\x.edb", true},
        {"\\Windows\\Prefetch\\X.pf", false},
        {"\\windows\\prefetch\\x.pf", true},
        {"\\$RECYCLE.BIN\\S-1\\x.txt", false},
        {"\\$Recycle.Bin\\S-1\\x.txt", true},
        {"\\ProgramData\\Foxit Software\\Foxit PDF Reader\\FoxitData.txt", false},
        {"\\Windows\\INF\\setupapi.dev.log", false},
        {"\\windows\\inf\\setupapi.dev.log", true},
        {"\\WINDOWS\\System32\\DriverStore\\x.inf", false},
        {"\\Windows\\System32\\drivers\\etc\\hosts", false},
        {"\\Users\\alice\\lib.dll", false},
        {"\\Users\\alice\\lib.DLL", true},
        {"\\Users\\alice\\lib.dll\\stream", false},
        {"\\Users\\alice\\lib.DLL\\stream", true},
        {"\\Users\\alice\\Documents\\", false},
        {"\\Users\\alice\\Documents", true},
        {"\\Windows\\System32\\spool\\PRINTERS\\x.spl", false},
        {"\\Windows\\AppCompat\\Programs\\x.txt", false},
        {"\\Users\\alice\\windows\\appcompat", true},
    };
    for (const name_case& test : cases) {
        const outcome expected =
            test.passes ? outcome{"READ C:" + std::string(test.path) + " N/A " + word_image + " 100 alice\n",
                                  {open_json(test.path)}}
                        : outcome{};
        EXPECT_EQ(run(open_of(test.path)), expected) << test.path;
    }
}

TEST_F(FileProvider, OnlyVersionOneReachesTheCallback) {
    for (const std::uint16_t id : {12, 26, 27, 30}) {
        for (const std::uint8_t version : {0, 2}) {
            EXPECT_EQ(run(describe_file_event({.id = id,
                                               .version = version,
                                               .process_id = word,
                                               .name = u"\\Device\\HarddiskVolume3\\a.txt",
                                               .share_access = 1})),
                      outcome{})
                << id << " v" << int{version};
        }
    }
}

// The name tests and the callback share one walk of the record: a property
// before FileName that only TDH can measure is measured once, not fifteen times.
TEST_F(FileProvider, TheNameTestsAndTheCallbackWalkTheRecordOnce) {
    scope.monitored_paths = {"\\Users\\alice\\"};
    record_property irp = record_property::pointer(u"Irp", 0xFFFF'A000'0000'1000);
    irp.flags = platform::sdk::property_param_length; // its size comes from TDH
    const outcome reported = run(with(open_of("\\Users\\alice\\a.txt"), irp));
    EXPECT_EQ(reported.messages, std::vector<std::string>{open_json("\\Users\\alice\\a.txt")}) << reported;
    EXPECT_EQ(tracing.calls_of<property_size_call>().size(), 1u);
}

TEST_F(FileProvider, SystemProcessesAreSkipped) {
    const std::string path = "\\a.txt";
    for (const unsigned pid : {0u, 4u, 9u}) {
        EXPECT_EQ(run(open_of(path, pid)), outcome{}) << pid;
        EXPECT_EQ(run(path_event(27, path, pid)), outcome{}) << pid;
    }
    const std::string ten_image = "C:\\Tools\\ten.exe";
    EXPECT_EQ(run(open_of(path, tenth)), (outcome{"READ C:\\a.txt N/A " + ten_image + " 10 alice\n",
                                                  {open_json(path, tenth, ten_image)}}));
}

TEST_F(FileProvider, PathEventsTakeFileNameThenFilePath) {
    const std::string path = "\\Users\\alice\\slides.pdf";
    const auto reported = [&](const std::string& label, const std::string& json_tail) {
        const std::string line = label + " C:" + path + " " + word_image;
        return outcome{line + "\n" + "DEBUG FILE " + line + " alice\n",
                       {"{\"id\":" + json_tail + ",\"Operation\":\"" + label + "\",\"Filename\":\"" +
                        json_text("C:" + path) + "\"," + (label == "DELETE" ? "" : "\"Path_Type\":\"N/A\",") +
                        "\"Process_Name\":\"" + json_text(word_image) +
                        "\",\"Process_Owner\":\"alice\",\"Event_Type\":\"FILESYSTEM\"}"}};
    };
    // 26 and 27 carry FilePath, 30 carries FileName.
    EXPECT_EQ(run(path_event(26, path)), reported("DELETE", "26,\"proc\":100"));
    EXPECT_EQ(run(path_event(27, path)), reported("RENAME", "27,\"proc\":100"));
    EXPECT_EQ(run(path_event(30, path)), reported("CREATED", "30,\"proc\":100"));

    auto both = path_event(27, "\\elsewhere.txt");
    both.properties.push_back(record_property::unicode(u"FileName", platform::utf8_to_utf16(volume + path)));
    EXPECT_EQ(run(both), reported("RENAME", "27,\"proc\":100"));

    // Neither: the task gets "UNKNOWN" and drops it.
    EXPECT_EQ(run(without(path_event(27, path), u"FilePath")), outcome{});
    EXPECT_EQ(run(without(path_event(30, path), u"FileName")), outcome{});
}

// The record is named on the session thread by the life its time stamp falls
// in; a process first seen alive is kept for its later records.
TEST_F(FileProvider, RecordsAreNamedByTheLifeAtTheirTime) {
    const std::string path = "\\a.txt";
    const auto at = [&](unsigned pid, record_time when) {
        auto description = open_of(path, pid);
        description.header.timestamp = when;
        return description;
    };
    tracker.started(4242, 100, {"C:\\Temp\\dropper.exe", "alice"});
    tracker.ended(4242, 200);
    const auto read_by = [&](unsigned pid, const std::string& image, const std::string& owner) {
        return outcome{"READ C:\\a.txt N/A " + image + " " + std::to_string(pid) + " " + owner + "\n",
                       {"{\"id\":12,\"proc\":" + std::to_string(pid) +
                        ",\"Operation\":\"READ\",\"Filename\":\"C:\\\\a.txt\",\"Path_Type\":\"N/"
                        "A\",\"Process_Name\":\"" +
                        json_text(image) + "\",\"Process_Owner\":\"" + owner +
                        "\",\"Event_Type\":\"FILESYSTEM\"}"}};
    };
    EXPECT_EQ(run(at(4242, 150)), read_by(4242, "C:\\Temp\\dropper.exe", "alice"));
    EXPECT_EQ(run(at(4242, 250)),
              (outcome{"PROC ID FALLBACK ERROR: 87\n" + read_by(4242, "UNKNOWN", "UNKNOWN").console,
                       read_by(4242, "UNKNOWN", "UNKNOWN").messages}));
    EXPECT_EQ(run(at(word, 300)), read_by(word, word_image, "alice"));
    EXPECT_EQ(tracker.find(word, created_early).facts->image, word_image);       // since its creation
    EXPECT_EQ(tracker.find(word, 0).answer, process_tracker::verdict::not_this); // before it existed
    system.remove_process(word);
    EXPECT_EQ(run(at(word, 400)), read_by(word, word_image, "alice"));
}

TEST_F(FileProvider, AnUnreadableOpenPrintsOneErrorLineAndQueuesNothing) {
    const std::string prefix = "FILESYSTEM HANDLER CAUGHT ERROR: ";
    const auto open = open_of("\\a.txt");
    EXPECT_EQ(run(without(open, u"ShareAccess")),
              outcome{prefix + "Property with the given name does not exist\n"});
    EXPECT_EQ(run(with(open, record_property::integer(u"ShareAccess", simulated::property_type::uint16, 1))),
              outcome{prefix + "Property size doesn't match requested size\n"});
    // Without a name every name test is false, so the record reaches the callback.
    EXPECT_EQ(run(without(open, u"FileName")),
              outcome{prefix + "Property with the given name does not exist\n"});
}

} // namespace
} // namespace tallowick::monitor
