#include "app/loss_watch.h"

#include "platform/utf_codec.h"

#include <utility>

namespace tallowick::app {

std::uint64_t counter_growth(std::uint32_t last, std::uint32_t now) {
    constexpr std::uint32_t half = std::uint32_t{1} << 31;
    if (now >= last)
        return now - last;
    const std::uint32_t wrapped = now - last; // modulo 2^32
    return wrapped < half ? wrapped : now;
}

std::vector<std::string> session_names(const std::vector<etw::trace_session*>& sessions) {
    std::vector<std::string> names;
    for (const etw::trace_session* session : sessions)
        names.push_back(platform::utf16_to_utf8(session->name()));
    return names;
}

std::string loss_line(const loss_news& news) {
    std::string line = "tallowick: trace session " + news.session + " lost " +
                       std::to_string(news.new_losses.events) + " events (" +
                       std::to_string(news.total.events) + " in all)";
    if (news.new_losses.buffers != 0)
        line += " and " + std::to_string(news.new_losses.buffers) + " buffers on their way to the agent (" +
                std::to_string(news.total.buffers) + " in all)";
    if (news.new_losses.records != 0)
        line += "; it delivered " + std::to_string(news.new_losses.records) + " lost-event records (" +
                std::to_string(news.total.records) + " in all)";
    return line;
}

loss_watch::loss_watch(std::vector<etw::trace_session*> sessions, run_ledger& ledger, news_listener report)
    : sessions_(std::move(sessions)), ledger_(ledger), report_(std::move(report)), seen_(sessions_.size()) {}

void loss_watch::check() {
    for (std::size_t i = 0; i < sessions_.size(); ++i)
        take(i, sessions_[i]->query_statistics());
}

void loss_watch::check_final() {
    for (std::size_t i = 0; i < sessions_.size(); ++i)
        take(i, sessions_[i]->final_statistics());
}

void loss_watch::take(std::size_t index, const std::optional<etw::session_statistics>& seen) {
    seen_counters& known = seen_[index];
    session_loss grown;
    if (seen) {
        grown.events = counter_growth(known.events, seen->events_lost);
        grown.buffers = counter_growth(known.buffers, seen->realtime_buffers_lost);
        known.events = seen->events_lost;
        known.buffers = seen->realtime_buffers_lost;
    }
    const std::uint64_t records = sessions_[index]->loss_records();
    grown.records = records - known.records;
    known.records = records;
    if (!grown.any())
        return;
    known.total.events += grown.events;
    known.total.buffers += grown.buffers;
    known.total.records += grown.records;
    ledger_.add_loss(index, grown);
    if (report_)
        report_({platform::utf16_to_utf8(sessions_[index]->name()), grown, known.total});
}

} // namespace tallowick::app
