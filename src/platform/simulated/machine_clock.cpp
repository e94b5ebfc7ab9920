#include "platform/simulated/machine_clock.h"

#include <chrono>

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
    return ticks_of<std::chrono::steady_clock>();
}

std::int64_t counter_base() {
    static const std::int64_t base = filetime_now() - performance_counter_now();
    return base;
}

} // namespace tallowick::platform::simulated
