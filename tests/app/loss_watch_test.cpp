#include "app/loss_watch.h"

#include "platform/simulated/record_builder.h"
#include "platform/tracing_api.h"
#include "platform/windows_facts.h"
#include "support/fake_tracing.h"
#include "trace/manifest_trace.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

namespace tallowick::app {
namespace {

TEST(LossWatch, SaysOnceWhenASessionsCountersGrewBooksItAndSumsUpAtStop) {
    testing::fake_tracing tracing;
    const platform::scoped_tracing installed(tracing);
    etw::manifest_trace file(u"File");
    etw::manifest_trace other(u"Other");
    run_ledger ledger(session_names({&file, &other}));
    std::vector<std::string> lines;
    loss_watch watch({&file, &other}, ledger,
                     [&](const loss_news& news) { lines.push_back(loss_line(news)); });

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

    ledger.count(datagram_kind::file_system, output::send_outcome::sent);
    ledger.count(datagram_kind::file_system, output::send_outcome::shortened);
    ledger.count(datagram_kind::process_ended, output::send_outcome::sent);
    ledger.count(datagram_kind::process_started, output::send_outcome::too_large);
    ledger.count(datagram_kind::process_started, output::send_outcome::failed);
    ledger.lines_dropped(2);
    ledger.lines_failed(1);
    EXPECT_EQ(run_summary(ledger.figures()),
              (std::vector<std::string>{
                  "tallowick: run summary: datagrams sent: 2 file system, 0 process start, 1 process end",
                  "tallowick: run summary: messages shortened: 1, send failures: 2, console lines dropped: 3 "
                  "(1 of them to a failed output)",
                  "tallowick: run summary: events lost: File 20, Other 12",
                  "tallowick: run summary: sessions restored: 0"}));
}

TEST(LossWatch, CountersGrowAcrossAWrapAndStartAgainForANewSession) {
    constexpr std::uint32_t top = std::numeric_limits<std::uint32_t>::max();
    struct row {
        std::uint32_t last;
        std::uint32_t now;
        std::uint64_t growth;
    };
    const row rows[] = {
        {0, 0, 0},           {5, 12, 7}, {top - 2, 4, 7}, // wrapped past 2^32
        {top, 0, 1},                                      // to zero exactly
        {1000, 10, 10},      // a new session of the same name: all its losses are new
        {0x80000000u, 3, 3}, // half-way down is no wrap
        {top, top, 0},
    };
    for (const row& r : rows)
        EXPECT_EQ(counter_growth(r.last, r.now), r.growth) << r.last << " -> " << r.now;
}

TEST(LossWatch, TotalsPastThirtyTwoBitsAndLostEventRecordsReachTheLedgerAndTheNews) {
    testing::fake_tracing tracing;
    const platform::scoped_tracing installed(tracing);
    etw::manifest_trace file(u"File");
    run_ledger ledger(session_names({&file}));
    std::vector<loss_news> news;
    loss_watch watch({&file}, ledger, [&](const loss_news& item) { news.push_back(item); });
    // Seven sixteenths of the counter at each read, wrapping once: the total no
    // longer fits 32 bits.
    const std::uint32_t steps[] = {0x70000000u, 0xE0000000u, 0x50000000u};
    for (const std::uint32_t value : steps) {
        tracing.control_trace_answers.then(0);
        tracing.control_trace_events_lost = value;
        watch.check();
    }
    ASSERT_EQ(news.size(), 3u);
    EXPECT_EQ(news.back().total.events, 0x150000000u);
    EXPECT_EQ(ledger.figures().sessions.at(0).lost.events, 0x150000000u);
    EXPECT_EQ(loss_line(news.back()),
              "tallowick: trace session File lost 1879048192 events (5637144576 in all)");

    // The session delivers two lost-event records: loss too, from the records themselves.
    platform::simulated::record_description lost;
    lost.header.provider = platform::event_trace_guid;
    lost.header.opcode = platform::realtime_lost_event_type;
    const platform::simulated::built_record record = platform::simulated::build_record(lost);
    tracing.delivered_records = {&record.record(), &record.record()};
    file.start();
    tracing.control_trace_answers.then(0);
    watch.check();
    ASSERT_EQ(news.size(), 4u);
    EXPECT_EQ(news.back().new_losses.records, 2u);
    EXPECT_EQ(news.back().new_losses.events, 0u);
    EXPECT_EQ(ledger.figures().sessions.at(0).lost.records, 2u);
    EXPECT_EQ(
        loss_line(news.back()),
        "tallowick: trace session File lost 0 events (5637144576 in all); it delivered 2 lost-event records "
        "(2 in all)");
    EXPECT_EQ(run_summary(ledger.figures()).at(2),
              "tallowick: run summary: events lost: File 5637144576 (and 2 lost-event records)");
}

} // namespace
} // namespace tallowick::app
