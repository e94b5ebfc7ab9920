#include "monitor/process_attribution.h"
#include "monitor/process_provider_setup.h"
#include "monitor/process_tracker.h"

#include "platform/utf_codec.h"
#include "platform/windows_facts.h"
#include "provider_harness.h"

#include <gtest/gtest.h>

#include <optional>

namespace tallowick::monitor {
namespace {

using namespace testing;
using simulated::process_event;
using simulated::record_property;

constexpr unsigned explorer = 500, azure_agent = 510, velmar_agent = 520, locked = 530, missing = 540,
                   borrowed_svchost = 550, real_svchost = 560, evil_word = 570, fake_agent = 580;
const std::string alice = "S-1-5-21-1-2-3-1001", juergen = "S-1-5-21-1-2-3-1002";

simulated::machine_inventory process_machine() {
    using simulated::process_access;
    const std::string volume = "\\Device\\HarddiskVolume3";
    simulated::machine_inventory model;
    model.processes = {
        {explorer, volume + "\\Windows\\explorer.exe", alice, process_access::full},
        {azure_agent, volume + "\\WindowsAzure\\GuestAgent\\WindowsAzureGuestAgent.exe", "S-1-5-18",
         process_access::full},
        {velmar_agent, volume + "\\Program Files\\Velmar Windows Agent\\winagent.exe", "S-1-5-18",
         process_access::full},
        {locked, volume + "\\Windows\\System32\\smss.exe", "S-1-5-18", process_access::denied},
        {borrowed_svchost, volume + "\\Users\\bob\\Downloads\\svchost.exe", alice, process_access::full},
        {real_svchost, volume + "\\WINDOWS\\system32\\svchost.exe", "S-1-5-18", process_access::full},
        {evil_word, volume + "\\Tools\\evilwinword.exe", alice, process_access::full},
        {fake_agent, volume + "\\Tools\\xwindowsazureguestagent.exe", alice, process_access::full},
    };
    for (simulated::process_entry& process : model.processes)
        process.creation_time = 1; // before every time stamp the tests give
    model.accounts.push_back({alice, "alice", "DESKTOP-1"});
    model.accounts.push_back({juergen, "J\xc3\xbcrgen", "DESKTOP-1"});
    return model;
}

struct started {
    std::string parent;
    std::string user = "alice";
};

// One record and what should come of it: a start's or an end's report, or nothing.
struct process_case {
    const char* what;
    process_event event;
    std::optional<started> start = std::nullopt;
    bool end = false;
    std::vector<std::string> excluded = {};
    std::string console_before = ""; // a lookup's own line
};

process_event start_of(std::string image, std::u16string command_line, unsigned parent = explorer,
                       std::string user_sid = alice, std::uint32_t pid = 4242) {
    process_event event;
    event.process_id = pid;
    event.parent_id = parent;
    event.user_sid = std::move(user_sid);
    event.image_file_name = std::move(image);
    event.command_line = std::move(command_line);
    return event;
}

process_event end_of(std::string image, std::u16string command_line = u"x", unsigned parent = explorer,
                     std::uint32_t pid = 4242) {
    process_event event = start_of(std::move(image), std::move(command_line), parent, alice, pid);
    event.opcode = platform::process_end_opcode;
    return event;
}

outcome expected(const process_case& test) {
    const process_event& e = test.event;
    const std::string pid = std::to_string(e.process_id);
    std::string image = e.image_file_name;
    for (char& c : image)
        c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    const std::string command_line = platform::utf16_to_utf8(e.command_line);
    if (test.start)
        return {test.console_before + "DEBUG PROCESS STARTED: " + pid + " " + image + " " + command_line +
                    " " + test.start->parent + "\n",
                {"{\"Parent_Process_Name\":\"" + json_text(test.start->parent) +
                 "\",\"Operation\":\"PROCESS STARTED\",\"Process_Name\":\"" + image + "\",\"Process_ID\":" +
                 pid + ",\"Parent_Process_ID\":" + std::to_string(e.parent_id) + ",\"Command_Line\":\"" +
                 json_text(command_line) + "\",\"Event_Type\":\"PROCESS\",\"User\":\"" + test.start->user +
                 "\",\"User_SID\":\"" + e.user_sid + "\"}"}};
    if (test.end)
        return {"DEBUG PROCESS ENDED: " + pid + " " + image + "\n",
                {"{\"Operation\":\"PROCESS ENDED\",\"Process_Name\":\"" + image + "\",\"Process_ID\":" + pid +
                 ",\"Event_Type\":\"PROCESS\"}"}};
    return {test.console_before};
}

class ProcessProvider : public provider_harness {
  protected:
    ProcessProvider() : provider_harness(process_machine()) {}

    outcome run(const simulated::record_description& description, const std::vector<std::string>& excluded) {
        const event_scope scope = scope_of({}, excluded);
        return provider_harness::run(description, [this, &scope](pool::thread_pool& pool) {
            etw::kernel::process_provider provider;
            setup_kernel_process_provider(provider, pool, scope, sink, tracker);
            return provider;
        });
    }
    // At a time after the machine's processes were created, so that a live
    // look-up may name them (their image path is what the exclusions read).
    outcome run(const process_case& test) {
        simulated::record_description description = describe_process_event(test.event);
        description.header.timestamp = 100;
        return run(description, test.excluded);
    }

    process_tracker tracker;
};

TEST_F(ProcessProvider, TakesProcessStartsAndEndsOnly) {
    const event_scope scope = scope_of(); // before the pool, as in the agent
    pool::thread_pool pool(1);
    etw::kernel::process_provider provider;
    setup_kernel_process_provider(provider, pool, scope, sink, tracker);
    ASSERT_EQ(provider.filters().size(), 1u);
    EXPECT_EQ(provider.filters().front().event_ids(), std::vector<std::uint16_t>{0});

    for (const std::uint8_t opcode : {0, 3, 4, 39}) {
        process_event event = start_of("notepad.exe", u"notepad.exe");
        event.opcode = opcode;
        EXPECT_EQ(run(describe_process_event(event), {}), outcome{}) << int{opcode};
    }
}

TEST_F(ProcessProvider, ExclusionsAndLookupsDecideWhatIsReported) {
    const std::string explorer_image = "c:\\windows\\explorer.exe";
    const started by_explorer{explorer_image};
    const process_case cases[] = {
        {"a start", start_of("notepad.exe", u"\"C:\\Windows\\notepad.exe\" a.txt"), by_explorer},
        {"an end", end_of("notepad.exe"), {}, true},
        {"the first user process", start_of("a.exe", u"a", explorer, alice, 10), by_explorer},
        {"tasklist's query", start_of("tasklist.exe", u"tasklist.exe /fo csv /nh /fi \"PID eq 4\"")},
        {"tasklist's query, bare", start_of("tasklist.exe", u"tasklist.exe /fo csv /nh /fi")},
        {"tasklist after a directory",
         start_of("tasklist.exe", u"C:\\Windows\\tasklist.exe /fo csv /nh /fi x"), by_explorer},
        {"a console host",
         start_of("conhost.exe", u"\\??\\C:\\Windows\\system32\\conhost.exe 0xffffffff -ForceV1")},
        {"a console host's end", end_of("other.exe", u"conhost.exe 0xffffffff -ForceV1")},
        {"a console host, other flags", start_of("x.exe", u"conhost.exe 0xffffffff -ForceV2"), by_explorer},
        {"lowered into the built-in table", start_of("SVCHOST.EXE", u"svchost -k")},
        {"excluded on the path the tracker learnt",
         start_of("svchost.exe", u"svchost.exe -k netsvcs", explorer, alice, real_svchost)},
        {"a borrowed name in Downloads",
         start_of("svchost.exe", u"svchost.exe -k evil", explorer, alice, borrowed_svchost), by_explorer},
        {"a borrowed name's end", end_of("svchost.exe", u"x", explorer, borrowed_svchost), {}, true},
        {"a user entry on the learnt path",
         start_of("winword.exe", u"w", explorer, alice, evil_word),
         by_explorer,
         false,
         {"winword.exe"}},
        {"a user entry with the learnt folder",
         start_of("evilwinword.exe", u"w", explorer, alice, evil_word),
         {},
         false,
         {"tools\\evilwinword.exe"}},
        {"a user entry must start a name",
         start_of("xnotepad.exe", u"n"),
         by_explorer,
         false,
         {"notepad.exe"}},
        {"a table entry with capitals never matches", start_of("WerFault.exe", u"WerFault -u"), by_explorer},
        {"only A to Z are lowered", start_of("Caf\xc3\x89.EXE", u"caf\u00e9"), by_explorer},
        {"a user entry with capitals", start_of("notepad.exe", u"n"), {}, false, {"Notepad.exe"}},
        {"a user entry in lower case, the image in capitals",
         end_of("NOTEPAD.EXE"),
         {},
         false,
         {"notepad.exe"}},
        {"a user entry must end the image name", start_of("notepad.exe", u"n"), by_explorer, false, {"note"}},
        {"a user entry", start_of("notepad.exe", u"n"), {}, false, {"x.exe", "notepad.exe"}},
        {"a user entry, end", end_of("notepad.exe"), {}, false, {"notepad.exe"}},
        {"started by the Azure agent", start_of("cmd.exe", u"cmd", azure_agent)},
        {"started by our own agent", start_of("cmd.exe", u"cmd", velmar_agent)},
        {"started by a name ending like an agent's", start_of("cmd.exe", u"cmd", fake_agent),
         started{"c:\\tools\\xwindowsazureguestagent.exe"}},
        {"ended, started by an agent", end_of("cmd.exe", u"cmd", azure_agent), {}, true},
        {"an unknown account", start_of("a.exe", u"a", explorer, "S-1-5-21-9-9-9-9"),
         started{explorer_image, "UNKNOWN"}},
        {"an account beyond ASCII", start_of("a.exe", u"a", explorer, juergen),
         started{explorer_image, "J\xc3\xbcrgen"}},
        {"a parent that refuses", start_of("a.exe", u"a", locked), started{"access_denied"}},
        {"a parent that is gone",
         start_of("a.exe", u"a", missing),
         started{""},
         false,
         {},
         "PROC ID FALLBACK ERROR: 87\n"},
    };
    for (const process_case& test : cases) {
        EXPECT_EQ(run(test), expected(test)) << test.what;
        const std::vector<message_kind> kind = {test.start ? message_kind::process_started
                                                           : message_kind::process_ended};
        EXPECT_EQ(kinds, test.start || test.end ? kind : std::vector<message_kind>{}) << test.what;
    }
}

// Starts and ends reach the tracker on the session thread, at their record's
// time; what cannot be learnt live is taken from the record.
TEST_F(ProcessProvider, TheTrackerLearnsEveryLifeFromItsRecords) {
    const auto at = [](process_event event, record_time when) {
        auto description = describe_process_event(event);
        description.header.timestamp = when;
        return description;
    };
    run(at(start_of("tool.exe", u"tool", explorer, alice, 4242), 100),
        {"tool.exe"}); // excluded, still tracked
    run(at(start_of("explorer.exe", u"x", 1, juergen, explorer), 200), {});
    run(at(end_of("tool.exe"), 300), {});
    run(at(start_of("System", u"", 0, "S-1-5-18", 4), 60), {});
    struct life_case {
        std::uint32_t pid;
        record_time when;
        std::optional<process_facts> facts;
    };
    const life_case cases[] = {
        {4242, 150, process_facts{"tool.exe", "alice"}}, // gone from the machine: the record's name and user
        {4242, 300, process_facts{"tool.exe", "alice"}},
        {4242, 301, std::nullopt},
        {explorer, 250, process_facts{"C:\\Windows\\explorer.exe", "alice"}}, // live, over the record
        {4, 70, std::nullopt},
    };
    for (const life_case& test : cases) {
        const auto found = tracker.find(test.pid, test.when).facts;
        ASSERT_EQ(found != nullptr, test.facts.has_value()) << test.pid << " at " << test.when;
        if (found) {
            EXPECT_EQ(found->image, test.facts->image) << test.pid;
            EXPECT_EQ(owner_name(*found), test.facts->owner) << test.pid;
        }
    }
    simulated::process_event locked_end = end_of("smss.exe");
    locked_end.process_id = locked;
    run(at(locked_end, 400), {});
    const auto ended_unseen = tracker.find(locked, 399).facts;
    ASSERT_NE(ended_unseen, nullptr);
    EXPECT_EQ(ended_unseen->image, "ACCESS_DENIED");
    EXPECT_EQ(owner_name(*ended_unseen), "alice"); // the record's user, where the token is refused
    EXPECT_EQ(tracker.open_lives(), 1u);
}

TEST_F(ProcessProvider, SystemProcessesAreSkippedBeforeAnythingElseIsRead) {
    for (const std::uint32_t pid : {0u, 4u, 9u}) {
        // A user SID that could not be read would print an error line.
        process_event event = start_of("System", u"", explorer, "", pid);
        EXPECT_EQ(run(describe_process_event(event), {}), outcome{}) << pid;
    }
}

TEST_F(ProcessProvider, AnUnreadableRecordPrintsOneErrorLine) {
    const std::string prefix = "WINDOWS KERNEL PROCESS HANDLER CAUGHT ERROR: ";
    const auto start = describe_process_event(start_of("a.exe", u"a"));
    // The TOKEN_USER head, then a SID that claims five sub-authorities and has one.
    std::vector<std::byte> cut_sid(16);
    for (const int b : {1, 5, 0, 0, 0, 0, 0, 5, 21, 0, 0, 0})
        cut_sid.push_back(static_cast<std::byte>(b));
    auto cut = record_property::raw(u"UserSID", cut_sid);
    cut.in_type = 310;
    struct error_case {
        const char* what;
        simulated::record_description record;
        std::string error;
    };
    const error_case cases[] = {
        {"no user SID", without(start, u"UserSID"), "Property with the given name does not exist"},
        {"a cut SID", with(start, cut), "SID does not fit in its property"},
        {"no process id", without(start, u"ProcessId"), "Property with the given name does not exist"},
        {"a short parent id",
         with(start, record_property::integer(u"ParentId", simulated::property_type::uint16, 1)),
         "Property size doesn't match requested size"},
    };
    for (const error_case& test : cases)
        EXPECT_EQ(run(test.record, {}), outcome{prefix + test.error + "\n"}) << test.what;
}

} // namespace
} // namespace tallowick::monitor
