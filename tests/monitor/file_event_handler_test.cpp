#include "monitor/file_event_handler.h"
#include "platform/simulated/simulated_system.h"
#include "platform/utf_codec.h"
#include "platform/windows_facts.h"
#include "recording_sink.h"
#include "support/json_text.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>

namespace tallowick::monitor {
namespace {

using namespace platform::simulated;
using tallowick::testing::json_text;
using testing::scope_of;

constexpr unsigned word = 100, explorer = 110, svchost = 120, notepad = 130, lsass = 140, smss = 150,
                   ended = 160, buecher = 170, borrowed_svchost = 180;

machine_inventory handler_machine() {
    machine_inventory model;
    const std::string alice = "S-1-5-21-1-2-3-1001";
    model.processes = {
        {word, "\\Device\\HarddiskVolume3\\Program Files\\Office\\WINWORD.EXE", alice, process_access::full},
        {explorer, "\\Device\\HarddiskVolume3\\Windows\\explorer.exe", alice, process_access::full},
        {svchost, "\\Device\\HarddiskVolume3\\Windows\\System32\\svchost.exe", "S-1-5-18",
         process_access::full},
        {borrowed_svchost, "\\Device\\HarddiskVolume3\\Users\\bob\\Downloads\\svchost.exe", alice,
         process_access::full},
        {notepad, "\\Device\\HarddiskVolume3\\Windows\\notepad.exe", alice, process_access::full},
        {lsass, "\\Device\\HarddiskVolume3\\Windows\\System32\\lsass.exe", "S-1-5-18",
         process_access::limited},
        {smss, "\\Device\\HarddiskVolume3\\Windows\\System32\\smss.exe", "S-1-5-18", process_access::denied},
        {ended, "\\Device\\HarddiskVolume3\\gone.exe", alice, process_access::gone},
        {buecher, "\\Device\\HarddiskVolume3\\Programme\\B\xc3\xbc\x63her.exe", "S-1-5-21-1-2-3-1002",
         process_access::full},
    };
    model.accounts.push_back({alice, "alice", "DESKTOP-1"});
    model.accounts.push_back({"S-1-5-21-1-2-3-1002", "J\xc3\xbcrgen", "DESKTOP-1"});
    model.files = {
        {"C:\\Users\\alice\\Documents\\report.docx", file_type::file},
        {"C:\\Users\\alice\\Archive.zip", file_type::dir},
        {"C:\\Users\\alice\\Projects\\new", file_type::dir},
        {"C:\\Users\\alice\\Projects\\data.bin", file_type::file},
    };
    return model;
}

std::string file_json(int id, unsigned pid, const std::string& operation, const std::string& filename,
                      const std::optional<std::string>& path_type, const std::string& process,
                      const std::string& owner) {
    std::string json = "{\"id\":" + std::to_string(id) + ",\"proc\":" + std::to_string(pid) +
                       ",\"Operation\":\"" + operation + "\",\"Filename\":\"" + json_text(filename) + "\",";
    if (path_type)
        json += "\"Path_Type\":\"" + *path_type + "\",";
    return json + "\"Process_Name\":\"" + json_text(process) + "\",\"Process_Owner\":\"" + owner +
           "\",\"Event_Type\":\"FILESYSTEM\"}";
}

const std::string word_image = "C:\\Program Files\\Office\\WINWORD.EXE";
const std::string explorer_image = "C:\\Windows\\explorer.exe";
const std::string notepad_image = "C:\\Windows\\notepad.exe";
const std::string borrowed_svchost_image = "C:\\Users\\bob\\Downloads\\svchost.exe";
const std::string report_device = "\\Device\\HarddiskVolume3\\Users\\alice\\Documents\\report.docx";
const std::string report_docx = "C:\\Users\\alice\\Documents\\report.docx";
const std::string slides_device = "\\Device\\HarddiskVolume3\\Users\\alice\\slides.pdf";
const std::string slides = "C:\\Users\\alice\\slides.pdf";
const std::vector<std::string> projects = {"\\Users\\alice\\Projects\\"};

struct file_event {
    int id;
    unsigned pid;
    std::string name; // UTF-8 here; a path event gets it as UTF-16, as from its callback
    unsigned share_access = 0;
    std::vector<std::string> monitored = {};
    std::vector<std::string> excluded = {};
    event_origin origin = {};
};

struct report {
    std::string operation;
    std::string filename;
    std::optional<std::string> path_type;
    std::string process;
    std::string owner;
};

// An event and what it should give: a report (its console lines and its one
// message) or none, after the lines `console_before` (a look-up's own).
struct handler_case {
    const char* what;
    file_event event;
    std::optional<report> reported;
    std::string console_before = "";
};

class FileEventHandler : public ::testing::Test {
  protected:
    void run(const handler_case& test) {
        const file_event& event = test.event;
        std::string console = test.console_before;
        std::vector<std::string> messages;
        if (const auto& r = test.reported) {
            messages.push_back(file_json(event.id, event.pid, r->operation, r->filename, r->path_type,
                                         r->process, r->owner));
            if (event.id == platform::file_create_event)
                console += r->operation + " " + r->filename + " " + *r->path_type + " " + r->process + " " +
                           std::to_string(event.pid) + " " + r->owner + "\n";
            else
                console += r->operation + " " + r->filename + " " + r->process + "\nDEBUG FILE " +
                           r->operation + " " + r->filename + " " + r->process + " " + r->owner + "\n";
        }

        const event_scope scope = scope_of(event.monitored, event.excluded);
        ::testing::internal::CaptureStdout();
        if (event.id == platform::file_create_event)
            handle_file_access_event(event.id, event.pid, event.name, event.share_access, scope, sink,
                                     event.origin);
        else
            handle_file_path_event(event.id, event.pid, platform::utf8_to_utf16(event.name), scope, sink,
                                   event.origin);
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), console) << test.what;
        EXPECT_EQ(sink.take_messages(), messages) << test.what;
        EXPECT_EQ(sink.take_kinds(), std::vector<message_kind>(messages.size(), message_kind::file_system))
            << test.what;
        EXPECT_EQ(system.open_handle_count(), 0u) << test.what;
    }

    simulated_system system{handler_machine()};
    platform::scoped_system installed{system};
    testing::recording_sink sink;
};

TEST_F(FileEventHandler, AReportedOpenAndItsMessage) {
    ::testing::internal::CaptureStdout();
    handle_file_access_event(12, word, report_device, 1, scope_of(), sink);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "READ C:\\Users\\alice\\Documents\\report.docx FILE "
                                                        "C:\\Program Files\\Office\\WINWORD.EXE 100 alice\n");
    EXPECT_EQ(
        sink.take_messages(),
        std::vector<std::string>{
            R"({"id":12,"proc":100,"Operation":"READ","Filename":"C:\\Users\\alice\\Documents\\report.docx","Path_Type":"FILE","Process_Name":"C:\\Program Files\\Office\\WINWORD.EXE","Process_Owner":"alice","Event_Type":"FILESYSTEM"})"});
}

TEST_F(FileEventHandler, OpensAreScopedLabelledAndExcluded) {
    const std::string data_bin = "C:\\Users\\alice\\Projects\\data.bin";
    const handler_case cases[] = {
        {"a document read",
         {12, word, report_device, 1},
         report{"READ", report_docx, "FILE", word_image, "alice"}},
        {"an extension in capitals",
         {12, word, "\\Device\\HarddiskVolume3\\R.DOCX", 1},
         report{"READ", "C:\\R.DOCX", "N/A", word_image, "alice"}},
        {"an extension in mixed case",
         {12, word, "\\Device\\HarddiskVolume3\\scan001.Pdf", 1},
         report{"READ", "C:\\scan001.Pdf", "N/A", word_image, "alice"}},
        {"not a document", {12, word, "\\Device\\HarddiskVolume3\\a.exe", 1}, {}},
        {"share access 0", {12, word, report_device, 0}, {}},
        {"share access 8", {12, word, report_device, 8}, {}},
        {"share access 9", {12, word, report_device, 9}, {}},
        {"share access 3",
         {12, word, report_device, 3},
         report{"READ + WRITE", report_docx, "FILE", word_image, "alice"}},
        {"share access 7",
         {12, word, report_device, 7},
         report{"READ + WRITE", report_docx, "FILE", word_image, "alice"}},
        {"share access 6",
         {12, word, report_device, 6},
         report{"DELETE + WRITE", report_docx, "FILE", word_image, "alice"}},
        {"the explorer deleting",
         {12, explorer, report_device, 4},
         report{"DELETE", report_docx, "FILE", explorer_image, "alice"}},
        {"the explorer deleting and reading", {12, explorer, report_device, 5}, {}},
        {"svchost in the Windows folders", {12, svchost, report_device, 1}, {}},
        {"a borrowed name: svchost in Downloads",
         {12, borrowed_svchost, report_device, 1},
         report{"READ", report_docx, "FILE", borrowed_svchost_image, "alice"}},
        {"user exclusion must end the image path",
         {12, notepad, report_device, 1, {}, {"note"}},
         report{"READ", report_docx, "FILE", notepad_image, "alice"}},
        {"user exclusion ending the image path",
         {12, notepad, report_device, 1, {}, {"x", "notepad.exe"}},
         {}},
        {"user exclusion in another case", {12, notepad, report_device, 1, {}, {"NotePad.EXE"}}, {}},
        {"user exclusion must start a name",
         {12, notepad, report_device, 1, {}, {"otepad.exe"}},
         report{"READ", report_docx, "FILE", notepad_image, "alice"}},
        {"user exclusion with its folder", {12, notepad, report_device, 1, {}, {"windows\\notepad.exe"}}, {}},
        {"a directory", {12, word, "\\Device\\HarddiskVolume3\\Users\\alice\\Archive.zip", 1}, {}},
        {"a path not on record",
         {12, word, "\\Device\\HarddiskVolume3\\gone.txt", 2},
         report{"WRITE", "C:\\gone.txt", "N/A", word_image, "alice"}},
        {"a monitored path, any extension",
         {12, word, "\\Device\\HarddiskVolume3\\Users\\alice\\Projects\\data.bin", 3, projects},
         report{"READ + WRITE", data_bin, "FILE", word_image, "alice"}},
        {"a document outside the monitored paths", {12, word, report_device, 1, projects}, {}},
        {"a monitored path in another case",
         {12,
          word,
          "\\Device\\HarddiskVolume3\\USERS\\Alice\\projects\\data.bin",
          3,
          {"\\users\\ALICE\\Projects\\"}},
         report{"READ + WRITE", "C:\\USERS\\Alice\\projects\\data.bin", "FILE", word_image, "alice"}},
        {"a monitored path beyond ASCII, its ASCII letters in another case",
         {12,
          word,
          "\\Device\\HarddiskVolume3\\Users\\alice\\B\xc3\xbc\x63her\\a.bin",
          1,
          {"\\USERS\\ALICE\\B\xc3\xbc\x43HER\\"}},
         report{"READ", "C:\\Users\\alice\\B\xc3\xbc\x63her\\a.bin", "N/A", word_image, "alice"}},
        {"a protected process: the limited query right is enough",
         {12, lsass, report_device, 1},
         report{"READ", report_docx, "FILE", "C:\\Windows\\System32\\lsass.exe", "SYSTEM"}},
        {"every access refused",
         {12, smss, report_device, 1},
         report{"READ", report_docx, "FILE", "ACCESS_DENIED", "UNKNOWN"}},
        // Named by nothing: sent as "UNKNOWN", which no exclusion can match.
        {"a process that has ended",
         {12, ended, report_device, 1},
         report{"READ", report_docx, "FILE", "UNKNOWN", "UNKNOWN"},
         "PROC ID FALLBACK ERROR: 87\n"},
        {"a process that has ended, every name excluded",
         {12, ended, report_device, 1, {}, {"", "UNKNOWN"}},
         report{"READ", report_docx, "FILE", "UNKNOWN", "UNKNOWN"},
         "PROC ID FALLBACK ERROR: 87\n"},
        {"a volume the machine does not know",
         {12, word, "\\Device\\HarddiskVolume9\\x.txt", 1},
         report{"READ", "\\Device\\HarddiskVolume9\\x.txt", "N/A", word_image, "alice"}},
    };
    for (const handler_case& test : cases)
        run(test);
}

TEST_F(FileEventHandler, PathEventsAreScopedByLabelAndExcludedByEnding) {
    const std::string data_bin_device = "\\Device\\HarddiskVolume3\\Users\\alice\\Projects\\data.bin";
    const std::string data_bin = "C:\\Users\\alice\\Projects\\data.bin";
    const std::string buecher_image = "C:\\Programme\\B\xc3\xbc\x63her.exe";
    const std::string review = "C:\\Users\\alice\\B\xc3\xbc\x63her\\\xc3\x9c\x62\x65rsicht.pdf";
    const handler_case cases[] = {
        {"a document renamed",
         {27, word, slides_device},
         report{"RENAME", slides, "N/A", word_image, "alice"}},
        {"a document deleted, no paths", {26, word, slides_device}, {}},
        {"a document created, no paths", {30, word, slides_device}, {}},
        {"a rename that is no document", {27, word, "\\Device\\HarddiskVolume3\\a.pdf.tmp"}, {}},
        {"a document renamed, its extension in capitals",
         {27, word, "\\Device\\HarddiskVolume3\\a.PDF"},
         report{"RENAME", "C:\\a.PDF", "N/A", word_image, "alice"}},
        {"a deletion has no path type",
         {26, word, data_bin_device, 0, projects},
         report{"DELETE", data_bin, std::nullopt, word_image, "alice"}},
        {"a directory created",
         {30, word, "\\Device\\HarddiskVolume3\\Users\\alice\\Projects\\new", 0, projects},
         report{"CREATED", "C:\\Users\\alice\\Projects\\new", "DIR", word_image, "alice"}},
        {"a file created",
         {30, word, data_bin_device, 0, projects},
         report{"CREATED", data_bin, "FILE", word_image, "alice"}},
        {"the explorer renaming",
         {27, explorer, slides_device},
         report{"RENAME", slides, "N/A", explorer_image, "alice"}},
        {"svchost is printed, then left out",
         {27, svchost, slides_device},
         {},
         "RENAME " + slides + " C:\\Windows\\System32\\svchost.exe\n"},
        {"a borrowed name is reported",
         {27, borrowed_svchost, slides_device},
         report{"RENAME", slides, "N/A", borrowed_svchost_image, "alice"}},
        {"user exclusion must end the image path, as for opens",
         {27, notepad, slides_device, 0, {}, {"note"}},
         report{"RENAME", slides, "N/A", notepad_image, "alice"}},
        {"user exclusion in another case",
         {27, notepad, slides_device, 0, {}, {"NOTEPAD.exe"}},
         {},
         "RENAME " + slides + " " + notepad_image + "\n"},
        {"a monitored path in another case",
         {26, word, "\\Device\\HarddiskVolume3\\Users\\Alice\\PROJECTS\\Data.bin", 0, projects},
         report{"DELETE", "C:\\Users\\Alice\\PROJECTS\\Data.bin", std::nullopt, word_image, "alice"}},
        {"an unreadable name", {27, word, "UNKNOWN"}, {}},
        {"an unreadable name, monitored", {26, word, "UNKNOWN", 0, {"UNKNOWN"}}, {}},
        {"a process that has ended",
         {27, ended, slides_device, 0, {}, {"UNKNOWN"}},
         report{"RENAME", slides, "N/A", "UNKNOWN", "UNKNOWN"},
         "PROC ID FALLBACK ERROR: 87\n"},
        {"text beyond ASCII",
         {27, buecher,
          "\\Device\\HarddiskVolume3\\Users\\alice\\B\xc3\xbc\x63her\\\xc3\x9c\x62\x65rsicht.pdf"},
         report{"RENAME", review, "N/A", buecher_image, "J\xc3\xbcrgen"}},
    };
    for (const handler_case& test : cases)
        run(test);
}

// The process as the tracker knew it when the record came wins over what runs
// under the id now; the live look-ups serve only where the tracker knew nothing.
TEST_F(FileEventHandler, TheLifeCoveringTheEventNamesItsProcess) {
    const std::string dropper = "C:\\Users\\alice\\Temp\\dropper.exe";
    const auto life = [](std::string image, std::string owner) {
        return event_origin{
            0, std::make_shared<const process_facts>(process_facts{std::move(image), std::move(owner)})};
    };
    process_tracker tracker;
    tracker.started(word, 100, {dropper, "alice"});
    tracker.ended(word, 200);
    tracker.started(word, 300, {word_image, "alice"}); // the id reused by the program running now
    tracker.started(ended, 100, {notepad_image, "alice"});
    const handler_case cases[] = {
        {"an ended process, named by its life",
         {12, ended, report_device, 1, {}, {}, life(dropper, "alice")},
         report{"READ", report_docx, "FILE", dropper, "alice"}},
        {"a life whose image was never learnt keeps its owner",
         {12, ended, report_device, 1, {}, {"UNKNOWN"}, life("", "alice")},
         report{"READ", report_docx, "FILE", "UNKNOWN", "alice"}},
        {"an excluded program stays excluded after it ended",
         {12, ended, report_device, 1, {}, {"dropper.exe"}, life(dropper, "alice")},
         {}},
        {"the built-in table through a life",
         {27, ended, slides_device, 0, {}, {}, life("C:\\Windows\\System32\\svchost.exe", "SYSTEM")},
         {},
         "RENAME " + slides + " C:\\Windows\\System32\\svchost.exe\n"},
        {"the tracker asked again: a start came meanwhile",
         {12, ended, report_device, 1, {}, {}, {150, nullptr, &tracker}},
         report{"READ", report_docx, "FILE", notepad_image, "alice"}},
        {"the first program under a reused id",
         {12, word, report_device, 1, {}, {}, {150, nullptr, &tracker}},
         report{"READ", report_docx, "FILE", dropper, "alice"}},
        {"between two lives: not the program running now",
         {27, word, slides_device, 0, {}, {}, {250, nullptr, &tracker}},
         report{"RENAME", slides, "N/A", "UNKNOWN", "UNKNOWN"}},
        {"before any known life",
         {12, word, report_device, 1, {}, {}, {50, nullptr, &tracker}},
         report{"READ", report_docx, "FILE", "UNKNOWN", "UNKNOWN"}},
        {"an id the tracker never saw: live look-ups",
         {12, explorer, report_device, 4, {}, {}, {150, nullptr, &tracker}},
         report{"DELETE", report_docx, "FILE", explorer_image, "alice"}},
    };
    for (const handler_case& test : cases)
        run(test);
}

TEST(DefaultExclusion, TheFirstEntryNamingTheProgramDecidesAndSparesOnlyThePlainExplorerDelete) {
    struct exclusion_case {
        const char* process;
        const char* label;
        bool excluded;
    };
    const exclusion_case cases[] = {
        {"C:\\Windows\\explorer.exe", "DELETE", false},
        {"C:\\Windows\\explorer.exe", "DELETE + READ", true},
        {"C:\\Windows\\explorer.exe", "READ", true},
        {"C:\\WINDOWS\\SysWOW64\\explorer.exe", "READ", true}, // the folders in any case
        {"C:\\x\\ServiceHub.explorer.exe", "DELETE", true},    // an earlier entry decides first
        {"C:\\VS\\ServiceHub.Host.CLR.x86.exe", "READ", true},
        {"C:\\x\\MyServiceHub.exe", "READ", false},
        {"C:\\x\\ServiceHub.\\run.exe", "READ", false}, // a folder's name is no program's
        {"C:\\Windows\\System32\\svchost.exe", "DELETE", true},
        {"C:\\Windows\\System32\\drivers\\svchost.exe", "READ", false},
        {"C:\\Users\\bob\\Downloads\\svchost.exe", "READ", false},
        {"C:\\Users\\bob\\AppData\\Roaming\\WerFault.exe", "READ", false},
        {"D:\\Windows\\System32\\svchost.exe", "READ", false},
        {"C:\\Windows\\System32\\xsvchost.exe", "READ", false},
        {"C:\\Windows\\System32\\svchost.exe.bak", "READ", false},
        {"C:\\Windows\\System32\\SVCHOST.EXE", "READ", false}, // the names keep their case rules
        {"svchost.exe", "READ", true},                         // no path known: the name alone decides
        {"C:\\Program Files\\Velmar Windows Agent\\winagent.exe", "READ", false}, // case-sensitive
        {"c:\\program files\\velmar windows agent\\winagent.exe", "READ", true},
        {"c:\\x\\evilvelmar windows agent\\winagent.exe", "READ", false},
        {"C:\\Apps\\notepad.exe", "READ", false},
        {"", "READ", false},
    };
    for (const exclusion_case& test : cases)
        EXPECT_EQ(is_default_excluded(scope_of(), test.process, test.label), test.excluded)
            << test.process << " " << test.label;
}

} // namespace
} // namespace tallowick::monitor
