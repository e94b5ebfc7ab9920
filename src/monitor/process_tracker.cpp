#include "monitor/process_tracker.h"

#include <algorithm>
#include <limits>
#include <mutex>
#include <utility>

namespace tallowick::monitor {
namespace {
constexpr record_time beginning_of_time = std::numeric_limits<record_time>::min();
} // namespace

process_tracker::process_tracker(limits bounds) : limits_(bounds) {}

process_tracker::lookup process_tracker::find_in(const std::deque<life>& lives, record_time when) {
    // The latest life that started by `when`: lives are in start order.
    const auto after = std::upper_bound(lives.begin(), lives.end(), when,
                                        [](record_time time, const life& each) { return time < each.start; });
    if (after == lives.begin())
        return {lives.empty() ? verdict::not_known : verdict::not_this, nullptr};
    const life& at = *(after - 1);
    if (!at.ended || when <= at.end)
        return {verdict::covered, at.facts, at.ended, at.start};
    // After the end of the id's last life: a process whose start is not known
    // yet. Between two lives: one we never saw.
    return {after == lives.end() ? verdict::not_known : verdict::not_this, nullptr};
}

process_tracker::lookup process_tracker::find(std::uint32_t pid, record_time when) const {
    std::shared_lock lock(mutex_);
    const auto found = lives_.find(pid);
    if (found == lives_.end())
        return {};
    return find_in(found->second, when);
}

void process_tracker::end_life(std::uint32_t pid, life& open, record_time when) {
    open.ended = true;
    open.end = std::max(when, open.start);
    --open_count_;
    ++ended_count_;
    ended_order_.push_back({pid, open.end});
}

void process_tracker::add_life(std::deque<life>& lives, life added) {
    // Only the last life can be open: the first of several has ended.
    if (lives.size() >= std::max<std::size_t>(limits_.max_lives_per_id, 2)) {
        lives.erase(lives.begin());
        --ended_count_;
    }
    lives.push_back(std::move(added));
    ++open_count_;
}

void process_tracker::started(std::uint32_t pid, record_time when, process_facts facts) {
    auto shared = std::make_shared<const process_facts>(std::move(facts));
    std::lock_guard lock(mutex_);
    std::deque<life>& lives = lives_[pid];
    const auto later = std::upper_bound(lives.begin(), lives.end(), when,
                                        [](record_time time, const life& each) { return time < each.start; });
    if (later != lives.end()) {
        // A later life is known already, learnt by a live look-up before this
        // start record came: this one ended, at the latest, when that began.
        const record_time until = later->start;
        lives.insert(later, {when, until, true, std::move(shared)});
        ++ended_count_;
        ended_order_.push_back({pid, until});
        if (lives.size() > std::max<std::size_t>(limits_.max_lives_per_id, 2)) {
            lives.erase(lives.begin());
            --ended_count_;
        }
        prune(when);
        return;
    }
    if (!lives.empty() && !lives.back().ended)
        end_life(pid, lives.back(), when);
    add_life(lives, {when, 0, false, std::move(shared)});
    prune(when);
}

bool process_tracker::ended(std::uint32_t pid, record_time when) {
    std::lock_guard lock(mutex_);
    const auto found = lives_.find(pid);
    if (found == lives_.end())
        return false;
    std::deque<life>& lives = found->second;
    auto after = std::upper_bound(lives.begin(), lives.end(), when,
                                  [](record_time time, const life& each) { return time < each.start; });
    if (after == lives.begin())
        return false;
    life& ending = *(after - 1);
    if (!ending.ended) {
        end_life(pid, ending, when);
    } else if (after != lives.end() && when <= ending.end) {
        ending.end = std::max(when, ending.start); // its end known now, before the next life
    } else {
        return false;
    }
    prune(when);
    return true;
}

void process_tracker::ended_unseen(std::uint32_t pid, record_time when, process_facts facts) {
    auto shared = std::make_shared<const process_facts>(std::move(facts));
    std::lock_guard lock(mutex_);
    std::deque<life>& lives = lives_[pid];
    if (!lives.empty() && !lives.back().ended) {
        // Seen alive meanwhile: that life is the one ending.
        end_life(pid, lives.back(), when);
    } else {
        const record_time start = lives.empty() ? beginning_of_time : lives.back().end;
        add_life(lives, {start, 0, false, std::move(shared)});
        end_life(pid, lives.back(), when);
    }
    prune(when);
}

std::shared_ptr<const process_facts> process_tracker::seen(std::uint32_t pid, record_time when,
                                                           process_facts facts,
                                                           std::optional<record_time> created) {
    auto shared = std::make_shared<const process_facts>(std::move(facts));
    std::lock_guard lock(mutex_);
    std::deque<life>& lives = lives_[pid];
    const lookup known = find_in(lives, when);
    if (known.answer == verdict::covered)
        return known.facts;
    if (known.answer == verdict::not_this || (created && *created > when))
        return nullptr;
    record_time start = lives.empty() ? beginning_of_time : lives.back().end;
    if (created)
        start = std::max(start, *created);
    add_life(lives, {start, 0, false, shared});
    return shared;
}

void process_tracker::ran_before(std::uint32_t pid, std::optional<record_time> created, process_facts facts) {
    auto shared = std::make_shared<const process_facts>(std::move(facts));
    std::lock_guard lock(mutex_);
    std::deque<life>& lives = lives_[pid];
    if (!lives.empty() && !lives.back().ended)
        return;
    record_time start = lives.empty() ? beginning_of_time : lives.back().end;
    if (created)
        start = std::max(start, *created);
    add_life(lives, {start, 0, false, std::move(shared)});
}

void process_tracker::progressed(record_time when) {
    record_time known = progress_.load(std::memory_order_relaxed);
    while (when > known && !progress_.compare_exchange_weak(known, when, std::memory_order_acq_rel)) {
    }
}

void process_tracker::file_progressed(record_time when) {
    record_time known = file_progress_.load(std::memory_order_relaxed);
    while (when > known && !file_progress_.compare_exchange_weak(known, when, std::memory_order_relaxed)) {
    }
}

void process_tracker::prune(record_time now) {
    newest_ = std::max(newest_, now);
    // A file session behind the kernel session may still ask about lives
    // that ended a grace period before the kernel's time.
    const record_time file = file_progress_.load(std::memory_order_relaxed);
    const record_time slowest = file == 0 ? newest_ : std::min(newest_, file);
    while (!ended_order_.empty() &&
           (ended_order_.size() > limits_.max_ended || ended_order_.front().end < slowest - limits_.grace)) {
        const ended_life oldest = ended_order_.front();
        ended_order_.pop_front();
        const auto found = lives_.find(oldest.pid);
        if (found == lives_.end())
            continue;
        std::deque<life>& lives = found->second;
        // Lives of one id end in start order: its oldest ended life is its
        // first, unless that one was dropped already for the id's bound.
        if (!lives.empty() && lives.front().ended && lives.front().end == oldest.end) {
            lives.erase(lives.begin());
            --ended_count_;
        }
        if (lives.empty())
            lives_.erase(found);
    }
}

std::size_t process_tracker::open_lives() const {
    std::shared_lock lock(mutex_);
    return open_count_;
}

std::size_t process_tracker::ended_lives() const {
    std::shared_lock lock(mutex_);
    return ended_count_;
}

} // namespace tallowick::monitor
