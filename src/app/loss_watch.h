#pragma once

#include "app/run_ledger.h"
#include "trace/trace_session.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tallowick::app {

// Losses a check found new in one session, and its totals since the start.
struct loss_news {
    std::string session;
    session_loss new_losses;
    session_loss total;
};

// The line on standard error that says `news`.
std::string loss_line(const loss_news& news);

// Watches what the trace sessions lose: each check reads their lost-event
// counters and the lost-event records they delivered, books what is new in the
// ledger and, when anything grew, tells `report`. Loss is counted by the
// platform, never by us: this only makes it seen.
class loss_watch {
  public:
    using news_listener = std::function<void(const loss_news&)>;

    // The ledger's sessions are `sessions`, in this order.
    loss_watch(std::vector<etw::trace_session*> sessions, run_ledger& ledger, news_listener report);

    // Reads the counters of the running sessions.
    void check();
    // Reads the counters each session's stop reported.
    void check_final();

  private:
    struct seen_counters {
        std::uint32_t events = 0; // the platform's last 32-bit values
        std::uint32_t buffers = 0;
        std::uint64_t records = 0;
        session_loss total;
    };
    void take(std::size_t index, const std::optional<etw::session_statistics>& seen);

    std::vector<etw::trace_session*> sessions_;
    run_ledger& ledger_;
    news_listener report_;
    std::vector<seen_counters> seen_;
};

// What a platform counter grew by since `last`. It is 32 bits wide: a smaller
// value near the bottom after one near the top is a wrap (the counters are
// read every few seconds, far too often for 2^31 losses between two reads);
// any other smaller value is a new session of the same name, whose losses are
// new too.
std::uint64_t counter_growth(std::uint32_t last, std::uint32_t now);

// The session names the ledger books losses under, in the sessions' order.
std::vector<std::string> session_names(const std::vector<etw::trace_session*>& sessions);

} // namespace tallowick::app
