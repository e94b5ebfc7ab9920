#pragma once

#include "monitor/message_sink.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

namespace tallowick::app {

// Datagrams that went out, by the kind of message they carried. Safe from any thread.
struct sent_datagrams {
    std::array<std::atomic<std::uint64_t>, monitor::message_kinds> by_kind{};

    void count(monitor::message_kind kind) { by_kind[static_cast<std::size_t>(kind)].fetch_add(1); }
    std::uint64_t of(monitor::message_kind kind) const {
        return by_kind[static_cast<std::size_t>(kind)].load();
    }
};

// The agent's sink: each message in one datagram to the collector, counted by
// kind for the run summary once it went out.
class datagram_sink final : public monitor::message_sink {
  public:
    void send(const rapidjson::Document& message, monitor::message_kind kind) override;
    const sent_datagrams& sent() const { return sent_; }

  private:
    sent_datagrams sent_;
};

} // namespace tallowick::app
