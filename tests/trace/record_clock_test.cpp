#include "trace/record_clock.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace etw {
namespace {

TEST(RecordClock, PutsCounterStampsIntoSystemTimeByOneBase) {
    struct clock_case {
        std::int64_t frequency;
        std::int64_t raw;
        std::uint32_t clock_type;
        std::int64_t system_time;
    };
    constexpr std::int64_t base_counter = 5'000'000;
    constexpr std::int64_t base_time = 133'000'000'000'000'000;
    const clock_case cases[] = {
        {10'000'000, base_counter + 15'000'000, 1, base_time + 15'000'000}, // 1.5 s later
        {10'000'000, base_counter - 10, 1, base_time - 10},                 // before the base
        {3'579'545, base_counter + 3'579'545, 1, base_time + 10'000'000},   // another frequency
        // A day of a 3 GHz counter: no product overflows.
        {3'000'000'000, base_counter + 86'400LL * 3'000'000'000, 1, base_time + 86'400LL * 10'000'000},
        {10'000'000, 42, 2, 42},                      // system-time clock: already system time
        {0, base_counter + 99, 1, base_counter + 99}, // no counter: left as it is
    };
    for (const clock_case& test : cases) {
        const record_clock clock(base_counter, test.frequency, base_time);
        EXPECT_EQ(clock.system_time_of(test.raw, test.clock_type), test.system_time)
            << test.frequency << " " << test.raw;
    }
}

} // namespace
} // namespace etw
