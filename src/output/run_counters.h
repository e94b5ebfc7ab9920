#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

namespace tallowick {

// The kinds of message the agent sends, for the run's counts.
enum class message_kind : std::size_t { file_system, process_started, process_ended };
inline constexpr std::size_t message_kinds = 3;

// What the output side did during the run, counted so that nothing it loses
// goes unnoticed: read for the summary at stop. Safe from any thread.
struct run_counters {
    std::array<std::atomic<std::uint64_t>, message_kinds> datagrams_sent{};
    std::atomic<std::uint64_t> messages_shortened{0};
    std::atomic<std::uint64_t> send_failures{0}; // not sent: too large, or the send failed

    void count_sent(message_kind kind) { datagrams_sent[static_cast<std::size_t>(kind)].fetch_add(1); }
};

// The process's counters.
run_counters& counters();

} // namespace tallowick
