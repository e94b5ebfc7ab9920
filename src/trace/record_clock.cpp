#include "trace/record_clock.h"

#include "platform/tracing_api.h"

#include <mutex>
#include <optional>

namespace etw {
namespace {
constexpr std::int64_t ticks_per_second = 10'000'000;
} // namespace

const record_clock& record_clock::agent() {
    static std::mutex mutex;
    static std::optional<record_clock> clock;
    const std::lock_guard lock(mutex);
    // Kept once the platform has a counter; asked again until then.
    if (!clock || clock->frequency_ <= 0) {
        tallowick::platform::tracing_api& tracing = tallowick::platform::current_tracing();
        // The counter first: the base errs, if at all, by the moment between
        // the two readings, towards later stamps.
        const std::int64_t counter = tracing.query_performance_counter();
        clock.emplace(counter, tracing.query_performance_frequency(), tracing.system_time());
    }
    return *clock;
}

std::int64_t record_clock::system_time_of(std::int64_t raw, std::uint32_t clock_type) const {
    if (clock_type != performance_counter_clock || frequency_ <= 0)
        return raw;
    // Whole seconds and the rest apart: no product overflows for any frequency.
    const std::int64_t delta = raw - counter_;
    return system_time_ + delta / frequency_ * ticks_per_second +
           delta % frequency_ * ticks_per_second / frequency_;
}

} // namespace etw
