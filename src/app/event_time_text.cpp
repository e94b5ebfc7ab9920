#include "app/event_time_text.h"

#include <chrono>

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
    // By hand, not printf: this runs for every message sent with an envelope.
    std::string text;
    text.reserve(32);
    const auto digits = [&text](std::int64_t value, int width) {
        char reversed[20];
        int count = 0;
        do {
            reversed[count++] = static_cast<char>('0' + value % 10);
            value /= 10;
        } while (value != 0 || count < width);
        while (count > 0)
            text += reversed[--count];
    };
    digits(static_cast<int>(date.year()), 4);
    text += '-';
    digits(static_cast<unsigned>(date.month()), 2);
    text += '-';
    digits(static_cast<unsigned>(date.day()), 2);
    text += 'T';
    digits(clock.hours().count(), 2);
    text += ':';
    digits(clock.minutes().count(), 2);
    text += ':';
    digits(clock.seconds().count(), 2);
    text += '.';
    digits(clock.subseconds().count(), 7);
    text += 'Z';
    return text;
}

} // namespace tallowick::app
