#pragma once

#include "console/console_writer.h"
#include "output/send_event.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace tallowick::app {

// The kinds of datagram the run sends: the handlers' three and the agent's own.
enum class datagram_kind : std::size_t { file_system, process_started, process_ended, agent };
inline constexpr std::size_t datagram_kinds = 4;

// What one trace session lost, as the platform counts it (events that found no
// free buffer, buffers that did not reach us) and as its lost-event records say.
struct session_loss {
    std::uint64_t events = 0;
    std::uint64_t buffers = 0;
    std::uint64_t records = 0;

    bool any() const { return events != 0 || buffers != 0 || records != 0; }
};

struct session_figures {
    std::string name;
    session_loss lost;
};

// The ledger at one moment.
struct ledger_figures {
    std::array<std::uint64_t, datagram_kinds> sent{};
    std::uint64_t shortened = 0;
    std::uint64_t send_failures = 0;         // too large, or the send failed
    std::uint64_t console_lines_dropped = 0; // those lost to a failed output included
    std::uint64_t console_lines_failed = 0;
    std::uint64_t events_not_reported = 0; // queued when the stop's time ran out
    std::uint64_t sessions_restored = 0;   // from the restore ledger, for the summary
    std::vector<session_figures> sessions;

    std::uint64_t sent_of(datagram_kind kind) const { return sent[static_cast<std::size_t>(kind)]; }
    std::uint64_t datagrams_sent() const;
    // Whether anything but zeros stands in it.
    bool anything() const;
};

// The run's one book of what it sent and what it lost: every place that sends,
// shortens, fails to send, loses a console line or learns of lost events tells
// it, and the summary, the loss lines and the agent's own messages read it.
// Safe from any thread.
class run_ledger final : public console::line_losses {
  public:
    explicit run_ledger(std::vector<std::string> session_names = {});

    void count(datagram_kind kind, output::send_outcome outcome);
    void lines_dropped(std::uint64_t count) override;
    void lines_failed(std::uint64_t count) override;
    // Events still queued when the stop's time ran out.
    void events_not_reported(std::uint64_t count);
    // New losses of the session at `index` (of the names given).
    void add_loss(std::size_t index, const session_loss& more);

    ledger_figures figures() const;

  private:
    std::array<std::atomic<std::uint64_t>, datagram_kinds> sent_{};
    std::atomic<std::uint64_t> shortened_{0};
    std::atomic<std::uint64_t> send_failures_{0};
    std::atomic<std::uint64_t> console_lines_dropped_{0};
    std::atomic<std::uint64_t> console_lines_failed_{0};
    std::atomic<std::uint64_t> events_not_reported_{0};
    mutable std::mutex sessions_mutex_;
    std::vector<session_figures> sessions_;
};

// The run summary for standard error, in a few lines: datagrams sent by kind,
// messages shortened, send failures, console lines dropped and what each
// session lost.
std::vector<std::string> run_summary(const ledger_figures& figures);

} // namespace tallowick::app
