#pragma once

#include "app/datagram_sink.h"
#include "output/run_counters.h"
#include "trace/trace_session.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tallowick::app {

// Watches the lost-event counters of the trace sessions: each check reads them,
// and when they grew one line names the session and the new losses. Loss is
// counted by the platform, never by us: this only makes it seen.
class loss_watch {
  public:
    using line_writer = std::function<void(std::string_view)>;

    loss_watch(std::vector<etw::trace_session*> sessions, line_writer report);

    // Reads the counters of the running sessions.
    void check();
    // Reads the counters each session's stop reported.
    void check_final();

    struct session_total {
        std::string name;
        etw::session_statistics lost;
    };
    const std::vector<session_total>& totals() const { return totals_; }

  private:
    void take(std::size_t index, const etw::session_statistics& seen);

    std::vector<etw::trace_session*> sessions_;
    line_writer report_;
    std::vector<session_total> totals_;
};

// What the run summary sums up.
struct run_totals {
    const sent_datagrams& sent;
    const output::run_counters& output;
    std::uint64_t console_lines_dropped = 0;
    const std::vector<loss_watch::session_total>& lost;
    std::uint64_t sessions_restored = 0;
};

// The run summary: datagrams sent by kind, messages shortened, send failures,
// console lines dropped, what each session lost and how often a session was
// restored after an outside change, in a few lines.
// Whether the summary would have anything but zeros.
bool anything_counted(const run_totals& totals);
std::vector<std::string> run_summary(const run_totals& totals);

} // namespace tallowick::app
