#include "app/loss_watch.h"

#include "platform/tracing_api.h"
#include "support/fake_tracing.h"
#include "trace/manifest_trace.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tallowick::app {
namespace {

TEST(LossWatch, SaysOnceWhenASessionsCountersGrewAndSumsUpAtStop) {
    testing::fake_tracing tracing;
    const platform::scoped_tracing installed(tracing);
    etw::manifest_trace file(u"File");
    etw::manifest_trace other(u"Other");
    std::vector<std::string> lines;
    loss_watch watch({&file, &other}, [&](std::string_view line) { lines.emplace_back(line); });

    struct row {
        std::uint32_t answer; // of each query
        std::uint32_t events_lost;
        std::vector<std::string> expected;
    };
    const row rows[] = {
        {0, 0, {}},
        {0,
         5,
         {"tallowick: trace session File lost 5 events (5 in all)",
          "tallowick: trace session Other lost 5 events (5 in all)"}},
        {0, 5, {}},    // unchanged: nothing said
        {4201, 9, {}}, // not running: nothing read
        {0,
         12,
         {"tallowick: trace session File lost 7 events (12 in all)",
          "tallowick: trace session Other lost 7 events (12 in all)"}},
    };
    for (const row& r : rows) {
        lines.clear();
        tracing.control_trace_answers.then(r.answer).then(r.answer);
        tracing.control_trace_events_lost = r.events_lost;
        watch.check();
        EXPECT_EQ(lines, r.expected) << r.events_lost;
    }

    lines.clear();
    tracing.control_trace_events_lost = 20;
    file.stop(); // its stop reports the final count
    watch.check_final();
    EXPECT_EQ(lines, (std::vector<std::string>{"tallowick: trace session File lost 8 events (20 in all)"}));

    sent_datagrams sent;
    sent.count(monitor::message_kind::file_system);
    sent.count(monitor::message_kind::file_system);
    sent.count(monitor::message_kind::process_ended);
    output::run_counters output;
    output.messages_shortened = 1;
    output.send_failures = 2;
    EXPECT_EQ(run_summary({sent, output, 3, watch.totals(), 4}),
              (std::vector<std::string>{
                  "tallowick: run summary: datagrams sent: 2 file system, 0 process start, 1 process end",
                  "tallowick: run summary: messages shortened: 1, send failures: 2, console lines dropped: 3",
                  "tallowick: run summary: events lost: File 20, Other 12",
                  "tallowick: run summary: sessions restored: 4"}));
}

} // namespace
} // namespace tallowick::app
