// The agent's datagrams received by the log shippers of Debian's archive, set up
// as docs/log-shippers.md says: a burst with messages near the largest datagram
// must arrive whole, each record valid JSON of its kind, the run's sequence
// without a gap. The daemons run from the folder TALLOWICK_SHIPPERS_ROOT names,
// else from build/shippers/root, where scripts/test-shippers unpacks them;
// without them the cases are skipped.
#include "collector/message_check.h"
#include "support/run_process.h"
#include "support/running_process.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace tallowick::testing {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

const std::string agent = TALLOWICK_AGENT_PATH;
constexpr int bursts = 100;
constexpr int opens_per_burst = 199;
constexpr std::size_t events = bursts * (opens_per_burst + 1);
const std::string probe = "tallowick shipper probe";

// A process start whose command line is 19,500 euro signs: 39,000 bytes in its
// record, 58,500 in the message, near the largest datagram.
std::string burst_scenario() {
    std::string euros;
    for (int i = 0; i < 19500; ++i)
        euros += "\xE2\x82\xAC";
    return R"({"format": 1, "machine": {
    "accounts": [{"sid": "S-1-5-21-7-8-9-1001", "name": "alice", "domain": "HOST"}],
    "processes": [{"pid": 100, "image": "\\Device\\HarddiskVolume3\\Tools\\editor.exe", "user_sid": "S-1-5-21-7-8-9-1001"}],
    "files": [{"path": "C:\\Users\\alice\\report.docx", "type": "file"}]},
  "steps": [{"repeat": {"times": )" +
           std::to_string(bursts) + R"(, "steps": [
     {"repeat": {"times": )" +
           std::to_string(opens_per_burst) +
           R"(, "steps": [{"file_open": {"pid": 100, "name": "\\Device\\HarddiskVolume3\\Users\\alice\\report.docx", "share_access": 1}}]}},
     {"process_start": {"pid": 300, "parent_pid": 100, "image_file_name": "long.exe", "command_line": ")" +
           euros + R"(", "user_sid": "S-1-5-21-7-8-9-1001"}}]}},
   {"interrupt": {}}]})";
}

// The MAJOR.MINOR of the unpacked syslog-ng: its modules' folder, and the
// version its configuration declares.
std::string syslog_ng_version(const std::string& root) {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(root + "/usr/lib/syslog-ng", error)) {
        const std::string name = entry.path().filename().string();
        if (entry.is_directory() && !name.empty() && name[0] >= '0' && name[0] <= '9')
            return name;
    }
    return "3.38";
}

struct shipper {
    const char* name;
    // The daemon's configuration, writing whole records to `dir`/events.jsonl
    // and anything it cannot parse as JSON to `dir`/unparsed.log.
    std::function<std::string(const std::string& root, const std::string& dir)> config;
    std::function<std::vector<std::string>(const std::string& root, const std::string& dir)> arguments;
    const char* program; // under the root
    std::function<std::vector<std::string>(const std::string& root)> environment;
};

void PrintTo(const shipper& s, std::ostream* out) {
    *out << s.name;
}

// The recipes of docs/log-shippers.md, with this test's own paths.
const shipper shippers[] = {
    {"rsyslog",
     [](const std::string& root, const std::string& dir) {
         const std::string modules = root + "/usr/lib/x86_64-linux-gnu/rsyslog/";
         return "global(workDirectory=\"" + dir +
                "\" maxMessageSize=\"64k\")\n"
                "module(load=\"" +
                modules +
                "imudp.so\")\n"
                "module(load=\"" +
                modules +
                "mmjsonparse.so\")\n"
                "template(name=\"whole\" type=\"string\" string=\"%rawmsg%\\n\")\n"
                "ruleset(name=\"tallowick\") {\n"
                "  action(type=\"mmjsonparse\" cookie=\"\")\n"
                "  if $parsesuccess == \"OK\" then {\n"
                "    action(type=\"omfile\" file=\"" +
                dir +
                "/events.jsonl\" template=\"whole\")\n"
                "  } else {\n"
                "    action(type=\"omfile\" file=\"" +
                dir +
                "/unparsed.log\" template=\"whole\")\n"
                "  }\n"
                "}\n"
                "input(type=\"imudp\" address=\"127.0.0.1\" port=\"13251\" rcvbufSize=\"64m\" "
                "ruleset=\"tallowick\")\n";
     },
     [](const std::string& root, const std::string& dir) {
         return std::vector<std::string>{"-n",
                                         "-f",
                                         dir + "/shipper.conf",
                                         "-i",
                                         dir + "/shipper.pid",
                                         "-M",
                                         root + "/usr/lib/x86_64-linux-gnu/rsyslog"};
     },
     "/usr/sbin/rsyslogd", [](const std::string&) { return std::vector<std::string>{}; }},
    {"syslog-ng",
     [](const std::string& root, const std::string& dir) {
         return "@version: " + syslog_ng_version(root) +
                "\n"
                "options { stats-freq(0); };\n"
                "source s_tallowick { network(transport(\"udp\") ip(\"127.0.0.1\") port(13251)\n"
                "  so-rcvbuf(67108864) log-msg-size(65536) flags(no-parse)); };\n"
                "parser p_json { json-parser(prefix(\".tallowick.\")); };\n"
                "destination d_events { file(\"" +
                dir +
                "/events.jsonl\" template(\"${MSG}\\n\")); };\n"
                "destination d_unparsed { file(\"" +
                dir +
                "/unparsed.log\" template(\"${MSG}\\n\")); };\n"
                "log { source(s_tallowick); parser(p_json); destination(d_events); flags(final); };\n"
                "log { source(s_tallowick); destination(d_unparsed); flags(fallback); };\n";
     },
     [](const std::string& root, const std::string& dir) {
         return std::vector<std::string>{"-F",
                                         "-f",
                                         dir + "/shipper.conf",
                                         "--module-path=" + root + "/usr/lib/syslog-ng/" +
                                             syslog_ng_version(root),
                                         "--pidfile=" + dir + "/shipper.pid",
                                         "--persist-file=" + dir + "/shipper.persist",
                                         "--control=" + dir + "/shipper.ctl",
                                         "--no-caps"};
     },
     "/usr/sbin/syslog-ng",
     [](const std::string& root) {
         return std::vector<std::string>{"LD_LIBRARY_PATH=" + root + "/usr/lib/syslog-ng"};
     }},
};

std::vector<std::string> lines_of_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// Waits, within `limit`, until `done` holds, looking again every tenth of a second.
bool eventually(const std::function<bool()>& done, std::chrono::seconds limit) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > until)
            return false;
        std::this_thread::sleep_for(100ms);
    }
    return true;
}

class ShipperEndToEnd : public ::testing::TestWithParam<shipper> {};

TEST_P(ShipperEndToEnd, ABurstArrivesWholeParsedAndWithoutAGap) {
    const char* root_variable = std::getenv("TALLOWICK_SHIPPERS_ROOT");
    const std::string root = root_variable != nullptr ? root_variable : TALLOWICK_SHIPPERS_DEFAULT_ROOT;
    if (!fs::exists(root + GetParam().program))
        GTEST_SKIP() << "no " << GetParam().name << " unpacked (scripts/test-shippers unpacks it)";
    const std::string dir = ::testing::TempDir() + "tallowick-shipper-" + GetParam().name;
    fs::remove_all(dir);
    fs::create_directories(dir);
    std::ofstream(dir + "/shipper.conf", std::ios::binary) << GetParam().config(root, dir);
    std::ofstream(dir + "/burst.json", std::ios::binary) << burst_scenario();

    running_process daemon(root + GetParam().program, GetParam().arguments(root, dir),
                           GetParam().environment(root));
    // Listening once a probe, which is no JSON, reaches the unparsed records.
    boost::asio::io_context context;
    boost::asio::ip::udp::socket socket(context, boost::asio::ip::udp::v4());
    const boost::asio::ip::udp::endpoint to(boost::asio::ip::make_address("127.0.0.1"), 13251);
    ASSERT_TRUE(eventually(
        [&] {
            boost::system::error_code ignored;
            socket.send_to(boost::asio::buffer(probe), to, 0, ignored);
            const std::vector<std::string> unparsed = lines_of_file(dir + "/unparsed.log");
            return !unparsed.empty() && unparsed.front() == probe;
        },
        60s))
        << GetParam().name << " did not start listening";

    const process_result run =
        run_process(agent, {"--envelope"}, {"TALLOWICK_SIM_SCENARIO=" + dir + "/burst.json"});
    EXPECT_EQ(run.exit_status, 0) << run.err;
    const std::size_t expected = events + 2; // STARTED and STOPPED
    eventually([&] { return lines_of_file(dir + "/events.jsonl").size() >= expected; }, 120s);
    daemon.send_signal(SIGTERM);
    const process_result stopped = daemon.wait(60s);
    EXPECT_FALSE(daemon.hung()) << stopped.err;

    std::set<std::uint64_t> sequence;
    std::size_t large = 0;
    std::uint64_t stopped_at = 0;
    std::uint64_t said_sent = 0;
    std::string first_problem;
    for (const std::string& record : lines_of_file(dir + "/events.jsonl")) {
        const collector::check_result checked = collector::check_message(record);
        if (!checked.ok() || !checked.envelope) {
            if (first_problem.empty())
                first_problem = checked.problem + ": " + record.substr(0, 200);
            continue;
        }
        sequence.insert(checked.envelope->sequence);
        large += record.size() > 58000 ? 1 : 0;
        if (checked.stopped) {
            stopped_at = checked.envelope->sequence;
            said_sent = checked.stopped->datagrams_sent;
        }
    }
    EXPECT_EQ(first_problem, "");
    EXPECT_EQ(sequence.size(), expected);
    EXPECT_EQ(stopped_at, expected);
    EXPECT_EQ(said_sent, expected - 1);
    EXPECT_EQ(sequence.empty() ? 0 : *sequence.rbegin(), expected); // 1..N: no gap
    EXPECT_EQ(large, static_cast<std::size_t>(bursts));
    std::size_t unparsed = 0; // records the shipper could not read as JSON, the probes aside
    for (const std::string& line : lines_of_file(dir + "/unparsed.log"))
        unparsed += line == probe ? 0 : 1;
    EXPECT_EQ(unparsed, 0u);
    // What the closing note reports.
    std::cout << GetParam().name << ": " << sequence.size() << " of " << expected
              << " records whole and valid, " << large << " of them over 58,000 bytes, sequence 1 to "
              << (sequence.empty() ? 0 : *sequence.rbegin()) << ", missing "
              << (stopped_at > sequence.size() ? stopped_at - sequence.size() : 0) << std::endl;
    fs::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(Shippers, ShipperEndToEnd, ::testing::ValuesIn(shippers), [](const auto& info) {
    return std::string(info.param.name == std::string("rsyslog") ? "Rsyslog" : "SyslogNg");
});

} // namespace
} // namespace tallowick::testing
