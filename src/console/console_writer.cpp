#include "console/console_writer.h"

#include <algorithm>
#include <utility>

namespace tallowick::console {
namespace {
constexpr std::string_view failed_notice =
    "tallowick: standard output failed: console lines are dropped from now on and counted";

std::string dropped_notice(std::uint64_t count) {
    return "tallowick: " + std::to_string(count) +
           " console lines were dropped while standard output was not taking them";
}
} // namespace

console_writer::console_writer(output out, notice say, std::size_t capacity, line_losses* losses)
    : state_(std::make_shared<state>()), capacity_(capacity), say_(say) {
    state_->losses = losses;
    thread_ =
        std::thread([shared = state_, out = std::move(out), say = std::move(say)] { run(shared, out, say); });
}

console_writer::~console_writer() {
    finish();
}

bool console_writer::write(std::string line) {
    line_losses* losses = nullptr;
    {
        std::unique_lock lock(state_->mutex);
        if (state_->output_failed) {
            ++state_->dropped;
            ++state_->failed;
            losses = state_->losses;
            lock.unlock();
            if (losses)
                losses->lines_failed(1);
            return false;
        }
        if (!state_->ending && state_->bytes + line.size() <= capacity_) {
            state_->bytes += line.size();
            state_->lines.push_back(std::move(line));
            // A writer that is not asleep comes back for this line by itself.
            if (std::exchange(state_->sleeping, false)) {
                lock.unlock();
                state_->queued.notify_one();
            }
            return true;
        }
        ++state_->dropped;
        if (!state_->ending)
            ++state_->dropped_unreported; // said once the output drains, or by finish
        losses = state_->losses;
    }
    if (losses)
        losses->lines_dropped(1);
    return false;
}

void console_writer::run(const std::shared_ptr<state>& shared, const output& out, const notice& say) {
    std::unique_lock lock(shared->mutex);
    for (;;) {
        if (shared->lines.empty() && !shared->ending) {
            shared->sleeping = true;
            shared->queued.wait(lock, [&] { return !shared->lines.empty() || shared->ending; });
            shared->sleeping = false;
            // Lines seldom come alone: gather the burst (finish cuts this short).
            shared->queued.wait_for(lock, gathering, [&] { return shared->ending; });
        }
        if (shared->lines.empty())
            return; // ending, and all written
        // One write of as many whole lines as fit into a write that stays whole.
        std::string batch = std::move(shared->lines.front());
        shared->lines.pop_front();
        while (!shared->lines.empty() && batch.size() + shared->lines.front().size() <= whole_write) {
            batch += shared->lines.front();
            shared->lines.pop_front();
        }
        shared->writing = true;
        lock.unlock();
        const bool written = out(batch);
        lock.lock();
        shared->writing = false;
        if (!written) {
            // A failed output takes nothing more: what waits is lost with this batch.
            std::uint64_t lost = static_cast<std::uint64_t>(std::count(batch.begin(), batch.end(), '\n'));
            for (const std::string& waiting : shared->lines)
                lost += static_cast<std::uint64_t>(std::count(waiting.begin(), waiting.end(), '\n'));
            shared->lines.clear();
            shared->bytes = 0;
            shared->output_failed = true;
            shared->dropped += lost;
            shared->failed += lost;
            line_losses* losses = shared->losses;
            const bool ending = shared->ending;
            lock.unlock();
            if (losses)
                losses->lines_failed(lost);
            if (!ending)
                say(failed_notice);
            lock.lock();
            shared->drained.notify_all();
            continue;
        }
        shared->bytes -= batch.size() > shared->bytes ? shared->bytes : batch.size();
        if (shared->lines.empty()) {
            // Once ending, finish says it (and may no longer be listened to).
            if (shared->dropped_unreported != 0 && !shared->ending) {
                const std::uint64_t count = std::exchange(shared->dropped_unreported, 0);
                lock.unlock();
                say(dropped_notice(count));
                lock.lock();
            }
            shared->drained.notify_all();
        }
    }
}

std::uint64_t console_writer::finish(std::chrono::milliseconds patience) {
    std::unique_lock lock(state_->mutex);
    if (finished_)
        return state_->dropped;
    finished_ = true;
    state_->ending = true;
    state_->sleeping = false;
    state_->queued.notify_one();
    const bool written =
        state_->drained.wait_for(lock, patience, [&] { return state_->lines.empty() && !state_->writing; });
    std::uint64_t given_up = 0;
    if (!written) {
        // The output stays blocked: what waits is lost, and counted.
        given_up = state_->lines.size();
        state_->dropped += given_up;
        state_->lines.clear();
        state_->bytes = 0;
    }
    const std::uint64_t dropped = state_->dropped;
    const std::uint64_t unreported = std::exchange(state_->dropped_unreported, 0) + given_up;
    line_losses* losses = std::exchange(state_->losses, nullptr);
    lock.unlock();
    if (given_up != 0 && losses)
        losses->lines_dropped(given_up);
    if (unreported != 0)
        say_(dropped_notice(unreported));
    if (written)
        thread_.join();
    else
        thread_.detach(); // blocked in a write the process exit ends; it holds its own state
    return dropped;
}

std::uint64_t console_writer::dropped() const {
    const std::lock_guard lock(state_->mutex);
    return state_->dropped;
}

std::uint64_t console_writer::failed() const {
    const std::lock_guard lock(state_->mutex);
    return state_->failed;
}

} // namespace tallowick::console
