#include "app/event_time_text.h"

#include <chrono>
#include <cstdio>

namespace tallowick::app {

std::string event_time_text(std::int64_t filetime) {
    using ticks = std::chrono::duration<std::int64_t, std::ratio<1, 10'000'000>>;
    using namespace std::chrono;
    // Days from 1601-01-01 to 1970-01-01: the calendar counts from the latter.
    constexpr std::int64_t days_1601_to_1970 = 134774;
    constexpr std::int64_t ticks_per_day = 864'000'000'000;
    const std::int64_t since_1601 = filetime < 0 ? 0 : filetime;
    const std::int64_t day = since_1601 / ticks_per_day;
    const std::int64_t in_day = since_1601 % ticks_per_day;
    const year_month_day date{sys_days{days{day - days_1601_to_1970}}};
    const hh_mm_ss<ticks> clock{ticks{in_day}};
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%07lldZ", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
                  static_cast<int>(clock.seconds().count()),
                  static_cast<long long>(clock.subseconds().count()));
    return text;
}

} // namespace tallowick::app
