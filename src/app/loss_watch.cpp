#include "app/loss_watch.h"

#include "platform/utf_codec.h"

#include <utility>

namespace tallowick::app {

loss_watch::loss_watch(std::vector<etw::trace_session*> sessions, line_writer report)
    : sessions_(std::move(sessions)), report_(std::move(report)) {
    for (const etw::trace_session* session : sessions_)
        totals_.push_back({platform::utf16_to_utf8(session->name()), {}});
}

void loss_watch::check() {
    for (std::size_t i = 0; i < sessions_.size(); ++i) {
        if (const auto seen = sessions_[i]->query_statistics())
            take(i, *seen);
    }
}

void loss_watch::check_final() {
    for (std::size_t i = 0; i < sessions_.size(); ++i) {
        if (const auto seen = sessions_[i]->final_statistics())
            take(i, *seen);
    }
}

void loss_watch::take(std::size_t index, const etw::session_statistics& seen) {
    etw::session_statistics& known = totals_[index].lost;
    // The counters only grow while a session lives; a smaller value is a new
    // session of the same name, whose losses are new too.
    const std::uint32_t new_events =
        seen.events_lost >= known.events_lost ? seen.events_lost - known.events_lost : seen.events_lost;
    const std::uint32_t new_buffers = seen.realtime_buffers_lost >= known.realtime_buffers_lost
                                          ? seen.realtime_buffers_lost - known.realtime_buffers_lost
                                          : seen.realtime_buffers_lost;
    if (new_events == 0 && new_buffers == 0)
        return;
    known.events_lost += new_events;
    known.realtime_buffers_lost += new_buffers;
    std::string line = "tallowick: trace session " + totals_[index].name + " lost " +
                       std::to_string(new_events) + " events (" + std::to_string(known.events_lost) +
                       " in all)";
    if (new_buffers != 0)
        line += " and " + std::to_string(new_buffers) + " buffers on their way to the agent (" +
                std::to_string(known.realtime_buffers_lost) + " in all)";
    report_(line);
}

bool anything_counted(const run_totals& totals) {
    for (const auto& count : totals.sent.by_kind)
        if (count.load() != 0)
            return true;
    for (const auto& session : totals.lost)
        if (session.lost.events_lost != 0 || session.lost.realtime_buffers_lost != 0)
            return true;
    return totals.output.messages_shortened.load() != 0 || totals.output.send_failures.load() != 0 ||
           totals.console_lines_dropped != 0 || totals.sessions_restored != 0;
}

std::vector<std::string> run_summary(const run_totals& totals) {
    const sent_datagrams& sent = totals.sent;
    const output::run_counters& output = totals.output;
    const std::vector<loss_watch::session_total>& lost = totals.lost;
    const auto of = [&](monitor::message_kind kind) { return std::to_string(sent.of(kind)); };
    std::vector<std::string> lines;
    lines.push_back("tallowick: run summary: datagrams sent: " + of(monitor::message_kind::file_system) +
                    " file system, " + of(monitor::message_kind::process_started) + " process start, " +
                    of(monitor::message_kind::process_ended) + " process end");
    lines.push_back(
        "tallowick: run summary: messages shortened: " + std::to_string(output.messages_shortened.load()) +
        ", send failures: " + std::to_string(output.send_failures.load()) +
        ", console lines dropped: " + std::to_string(totals.console_lines_dropped));
    std::string sessions = "tallowick: run summary: events lost:";
    for (std::size_t i = 0; i < lost.size(); ++i) {
        sessions += (i == 0 ? " " : ", ") + lost[i].name + " " + std::to_string(lost[i].lost.events_lost);
        if (lost[i].lost.realtime_buffers_lost != 0)
            sessions += " (and " + std::to_string(lost[i].lost.realtime_buffers_lost) + " buffers)";
    }
    lines.push_back(sessions);
    lines.push_back("tallowick: run summary: sessions restored: " + std::to_string(totals.sessions_restored));
    return lines;
}

} // namespace tallowick::app
