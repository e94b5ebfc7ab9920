#include "app/datagram_sink.h"

namespace tallowick::app {

static_assert(static_cast<std::size_t>(datagram_kind::file_system) ==
              static_cast<std::size_t>(monitor::message_kind::file_system));
static_assert(static_cast<std::size_t>(datagram_kind::process_started) ==
              static_cast<std::size_t>(monitor::message_kind::process_started));
static_assert(static_cast<std::size_t>(datagram_kind::process_ended) ==
              static_cast<std::size_t>(monitor::message_kind::process_ended));

datagram_sink::datagram_sink(run_ledger& ledger, const datagram_settings& settings)
    : ledger_(ledger), settings_(settings) {
    limits_.max_payload = settings.max_datagram;
    if (settings.sealed_by) {
        limits_.kept_members = envelope::members;
        limits_.mark_shortened = true;
    }
}

void datagram_sink::send(rapidjson::Document& message, monitor::message_kind kind,
                         monitor::record_time when) {
    seal_and_send(message, static_cast<datagram_kind>(kind), when);
}

void datagram_sink::send_agent(rapidjson::Document& message, std::int64_t made_at) {
    seal_and_send(message, datagram_kind::agent, made_at);
}

void datagram_sink::seal_and_send(rapidjson::Document& message, datagram_kind kind, std::int64_t when) {
    if (settings_.sealed_by)
        settings_.sealed_by->seal(message, when);
    output::send_outcome outcome = output::send_outcome::failed;
    try {
        outcome = output::send_event(message, limits_);
    } catch (...) {
        ledger_.count(kind, outcome); // no socket: not sent, and counted as such
        throw;
    }
    ledger_.count(kind, outcome);
}

} // namespace tallowick::app
