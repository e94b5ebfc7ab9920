#include "monitor/pending_attribution.h"

#include "monitor/lookups.h"

#include <optional>
#include <unordered_map>
#include <utility>

namespace tallowick::monitor {
namespace {
// How often waiting records are looked at again without news from the kernel
// session: the live proof may hold by then.
constexpr std::chrono::milliseconds recheck_interval{20};
} // namespace

pending_attribution::pending_attribution(process_tracker& tracker, std::function<void()> flush_kernel)
    : tracker_(tracker), flush_kernel_(std::move(flush_kernel)),
      thread_([this](std::stop_token stop) { run(stop); }) {}

pending_attribution::~pending_attribution() {
    finish();
}

void pending_attribution::finish() {
    if (!thread_.joinable())
        return;
    thread_.request_stop();
    {
        const std::lock_guard lock(mutex_);
        wake_.notify_all();
    }
    thread_.join();
    std::deque<parked> rest;
    {
        const std::lock_guard lock(mutex_);
        rest.swap(parked_);
    }
    decide(rest, true);
}

void pending_attribution::attribute(std::uint32_t pid, record_time when, resume_task resume) {
    if (std::optional<event_origin> now = attribute_now(tracker_, pid, when)) {
        resume(std::move(*now));
        return;
    }
    const std::lock_guard lock(mutex_);
    const bool first = parked_.empty();
    parked_.push_back({pid, when, std::chrono::steady_clock::now() + max_wait, std::move(resume)});
    fresh_ = true;
    // Woken for the first only: the others are looked at within a pass, and
    // a wake-up per record would cost the session thread a system call each.
    if (first)
        wake_.notify_all();
}

void pending_attribution::kernel_progressed(record_time when) {
    tracker_.progressed(when);
    const std::lock_guard lock(mutex_);
    if (parked_.empty())
        return;
    progressed_ = true;
    wake_.notify_all();
}

std::size_t pending_attribution::waiting() const {
    const std::lock_guard lock(mutex_);
    return parked_.size();
}

std::size_t pending_attribution::unnamed() const {
    const std::lock_guard lock(mutex_);
    return unnamed_;
}

std::size_t pending_attribution::decided_at_bound() const {
    const std::lock_guard lock(mutex_);
    return decided_at_bound_;
}

void pending_attribution::decide(std::deque<parked>& batch, bool final) {
    const auto now = std::chrono::steady_clock::now();
    // One creation-time look-up per id and pass, read after every record of
    // the batch came: it proves the author of all of them alike.
    std::unordered_map<std::uint32_t, std::optional<std::int64_t>> created;
    for (const parked& entry : batch)
        if (!created.contains(entry.pid))
            created.emplace(entry.pid, get_process_creation_time(entry.pid));
    std::deque<parked> still;
    std::size_t at_bound = 0;
    std::size_t nameless = 0;
    for (parked& entry : batch) {
        const bool bound_passed = final || now >= entry.deadline;
        std::optional<event_origin> origin =
            attribute_waiting(tracker_, entry.pid, entry.when, bound_passed, &created.at(entry.pid));
        if (!origin) {
            still.push_back(std::move(entry));
            continue;
        }
        if (bound_passed && entry.when > tracker_.progress())
            ++at_bound;
        if (!origin->facts)
            ++nameless;
        entry.resume(std::move(*origin));
    }
    batch.swap(still);
    const std::lock_guard lock(mutex_);
    decided_at_bound_ += at_bound;
    unnamed_ += nameless;
}

void pending_attribution::run(const std::stop_token& stop) {
    auto last_flush = std::chrono::steady_clock::time_point{};
    std::unique_lock lock(mutex_);
    while (!stop.stop_requested()) {
        // Idle, the thread sleeps until a record parks.
        if (parked_.empty())
            wake_.wait(lock, [&] { return stop.stop_requested() || !parked_.empty(); });
        else
            wake_.wait_for(lock, recheck_interval,
                           [&] { return stop.stop_requested() || progressed_ || fresh_; });
        progressed_ = false;
        fresh_ = false;
        if (parked_.empty() || stop.stop_requested())
            continue;
        std::deque<parked> batch;
        batch.swap(parked_);
        lock.unlock();
        decide(batch, false);
        const auto now = std::chrono::steady_clock::now();
        if (!batch.empty() && flush_kernel_ && now - last_flush >= flush_interval) {
            last_flush = now;
            flush_kernel_();
        }
        lock.lock();
        // Those parked meanwhile come after the ones that waited longer.
        for (auto at = parked_.begin(); at != parked_.end(); ++at)
            batch.push_back(std::move(*at));
        parked_.swap(batch);
    }
}

} // namespace tallowick::monitor
