#pragma once

#include "app/envelope.h"
#include "app/run_ledger.h"
#include "monitor/message_sink.h"
#include "output/send_event.h"

#include <cstddef>
#include <cstdint>

namespace tallowick::app {

// How the agent's datagrams are made.
struct datagram_settings {
    std::size_t max_datagram = output::max_datagram_payload;
    envelope* sealed_by = nullptr; // none: each message exactly as the handler built it
};

// The agent's sink: each message in one datagram to the collector, sealed by
// the envelope when there is one, and what became of it booked in the ledger.
class datagram_sink final : public monitor::message_sink {
  public:
    datagram_sink(run_ledger& ledger, const datagram_settings& settings);

    void send(rapidjson::Document& message, monitor::message_kind kind, monitor::record_time when) override;
    // One of the agent's own messages (sent only with an envelope).
    void send_agent(rapidjson::Document& message, std::int64_t made_at);

  private:
    void seal_and_send(rapidjson::Document& message, datagram_kind kind, std::int64_t when);

    run_ledger& ledger_;
    datagram_settings settings_;
    output::datagram_limits limits_;
};

} // namespace tallowick::app
