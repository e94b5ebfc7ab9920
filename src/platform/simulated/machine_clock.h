#pragma once

#include <cstdint>

namespace tallowick::platform::simulated {

// The machine's two clocks: system time, as a FILETIME (100-nanosecond
// intervals since 1601), and the performance counter that every session's raw
// time stamps share, which ticks `performance_frequency` times a second and is
// never set back.
std::int64_t filetime_now();
std::int64_t performance_counter_now();
inline constexpr std::int64_t performance_frequency = 10'000'000;
// System time less the counter, taken once: the base a session's stamps are
// converted with while nobody sets the system clock.
std::int64_t counter_base();

} // namespace tallowick::platform::simulated
