#pragma once

#include <cstdint>

namespace etw {

// The agent's one clock for record time stamps. Every session is consumed with
// raw stamps: for a performance-counter session (clock type 1) that is the
// counter itself, one for all sessions, an attached leftover session's too.
// Converted here with one base, read once, they become system time
// (100-nanosecond units since 1601) that compares exactly across sessions and
// with process creation times. Stamps of other clock types (system time,
// 2) are system time already and are left alone, as is every stamp where the
// platform has no performance counter.
class record_clock {
  public:
    // The process-wide clock; its base is read from the platform on first use.
    static const record_clock& agent();

    record_clock(std::int64_t counter, std::int64_t frequency, std::int64_t system_time)
        : counter_(counter), frequency_(frequency), system_time_(system_time) {}

    // The system time of a raw stamp of a session of `clock_type`.
    std::int64_t system_time_of(std::int64_t raw, std::uint32_t clock_type) const;

  private:
    std::int64_t counter_;
    std::int64_t frequency_;
    std::int64_t system_time_;
};

// WNODE_HEADER.ClientContext, as OpenTraceW reports it in LogfileHeader.ReservedFlags.
inline constexpr std::uint32_t performance_counter_clock = 1;

} // namespace etw
