#pragma once

#include <atomic>
#include <cstdint>

namespace tallowick::output {

// What the output side did during the run, counted so that nothing it loses
// goes unnoticed: read for the summary at stop. Safe from any thread.
struct run_counters {
    std::atomic<std::uint64_t> messages_shortened{0};
    std::atomic<std::uint64_t> send_failures{0}; // not sent: too large, or the send failed
};

// The process's counters.
run_counters& counters();

} // namespace tallowick::output
