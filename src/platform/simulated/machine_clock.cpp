#include "platform/simulated/machine_clock.h"

#include <chrono>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace tallowick::platform::simulated {
namespace {
// 100-nanosecond intervals from 1601 to 1970: a FILETIME of the Unix epoch.
constexpr std::int64_t filetime_of_unix_epoch = 116'444'736'000'000'000;

template <typename Clock> std::int64_t ticks_of() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count() /
           100;
}
} // namespace

std::int64_t filetime_now() {
    return filetime_of_unix_epoch + ticks_of<std::chrono::system_clock>();
}

std::int64_t performance_counter_now() {
#if defined(_WIN32)
    // Built for Windows (the harness under Wine), the machine's counter is the
    // system's own, as the agent reads it itself to convert raw stamps; in
    // 100-nanosecond units, which it is where it ticks 10 MHz (Wine's does).
    LARGE_INTEGER counter{};
    LARGE_INTEGER frequency{};
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    if (frequency.QuadPart > 0)
        return counter.QuadPart / frequency.QuadPart * performance_frequency +
               counter.QuadPart % frequency.QuadPart * performance_frequency / frequency.QuadPart;
#endif
    return ticks_of<std::chrono::steady_clock>();
}

std::int64_t counter_base() {
    static const std::int64_t base = filetime_now() - performance_counter_now();
    return base;
}

} // namespace tallowick::platform::simulated
