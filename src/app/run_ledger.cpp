#include "app/run_ledger.h"

#include <numeric>
#include <utility>

namespace tallowick::app {

std::uint64_t ledger_figures::datagrams_sent() const {
    return std::accumulate(sent.begin(), sent.end(), std::uint64_t{0});
}

bool ledger_figures::anything() const {
    for (const session_figures& session : sessions)
        if (session.lost.any())
            return true;
    return datagrams_sent() != 0 || shortened != 0 || send_failures != 0 || console_lines_dropped != 0 ||
           events_not_reported != 0 || sessions_restored != 0;
}

run_ledger::run_ledger(std::vector<std::string> session_names) {
    for (std::string& name : session_names)
        sessions_.push_back({std::move(name), {}});
}

void run_ledger::count(datagram_kind kind, output::send_outcome outcome) {
    if (outcome == output::send_outcome::shortened)
        shortened_.fetch_add(1, std::memory_order_relaxed);
    if (output::went_out(outcome))
        sent_[static_cast<std::size_t>(kind)].fetch_add(1, std::memory_order_relaxed);
    else
        send_failures_.fetch_add(1, std::memory_order_relaxed);
}

void run_ledger::lines_dropped(std::uint64_t count) {
    console_lines_dropped_.fetch_add(count, std::memory_order_relaxed);
}

void run_ledger::lines_failed(std::uint64_t count) {
    console_lines_failed_.fetch_add(count, std::memory_order_relaxed);
    console_lines_dropped_.fetch_add(count, std::memory_order_relaxed);
}

void run_ledger::events_not_reported(std::uint64_t count) {
    events_not_reported_.fetch_add(count, std::memory_order_relaxed);
}

void run_ledger::add_loss(std::size_t index, const session_loss& more) {
    const std::lock_guard lock(sessions_mutex_);
    session_loss& lost = sessions_.at(index).lost;
    lost.events += more.events;
    lost.buffers += more.buffers;
    lost.records += more.records;
}

ledger_figures run_ledger::figures() const {
    ledger_figures figures;
    for (std::size_t i = 0; i < datagram_kinds; ++i)
        figures.sent[i] = sent_[i].load(std::memory_order_relaxed);
    figures.shortened = shortened_.load(std::memory_order_relaxed);
    figures.send_failures = send_failures_.load(std::memory_order_relaxed);
    figures.console_lines_dropped = console_lines_dropped_.load(std::memory_order_relaxed);
    figures.console_lines_failed = console_lines_failed_.load(std::memory_order_relaxed);
    figures.events_not_reported = events_not_reported_.load(std::memory_order_relaxed);
    const std::lock_guard lock(sessions_mutex_);
    figures.sessions = sessions_;
    return figures;
}

std::vector<std::string> run_summary(const ledger_figures& figures) {
    const auto of = [&](datagram_kind kind) { return std::to_string(figures.sent_of(kind)); };
    std::vector<std::string> lines;
    std::string sent = "tallowick: run summary: datagrams sent: " + of(datagram_kind::file_system) +
                       " file system, " + of(datagram_kind::process_started) + " process start, " +
                       of(datagram_kind::process_ended) + " process end";
    if (figures.sent_of(datagram_kind::agent) != 0)
        sent += ", " + of(datagram_kind::agent) + " agent";
    lines.push_back(std::move(sent));
    std::string output = "tallowick: run summary: messages shortened: " + std::to_string(figures.shortened) +
                         ", send failures: " + std::to_string(figures.send_failures) +
                         ", console lines dropped: " + std::to_string(figures.console_lines_dropped);
    if (figures.console_lines_failed != 0)
        output += " (" + std::to_string(figures.console_lines_failed) + " of them to a failed output)";
    if (figures.events_not_reported != 0)
        output += ", queued events not reported: " + std::to_string(figures.events_not_reported);
    lines.push_back(std::move(output));
    std::string sessions = "tallowick: run summary: events lost:";
    for (std::size_t i = 0; i < figures.sessions.size(); ++i) {
        const session_figures& session = figures.sessions[i];
        sessions += (i == 0 ? " " : ", ") + session.name + " " + std::to_string(session.lost.events);
        if (session.lost.buffers != 0)
            sessions += " (and " + std::to_string(session.lost.buffers) + " buffers)";
        if (session.lost.records != 0)
            sessions += " (and " + std::to_string(session.lost.records) + " lost-event records)";
    }
    lines.push_back(std::move(sessions));
    lines.push_back("tallowick: run summary: sessions restored: " +
                    std::to_string(figures.sessions_restored));
    return lines;
}

} // namespace tallowick::app
