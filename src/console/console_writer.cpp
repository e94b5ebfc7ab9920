#include "console/console_writer.h"

#include <algorithm>
#include <atomic>
#include <utility>

namespace tallowick::console {
namespace {
std::atomic<std::uint64_t> lines_dropped_in_process{0};

std::string dropped_notice(std::uint64_t count, const std::string& stream) {
    return "tallowick: " + std::to_string(count) + " console lines were dropped while " + stream +
           " was not taking them";
}

std::string failed_notice(const std::string& stream) {
    return "tallowick: " + stream + " failed; its console lines are counted as dropped from now on";
}

std::uint64_t lines_in(std::string_view batch) {
    return static_cast<std::uint64_t>(std::count(batch.begin(), batch.end(), '\n'));
}
} // namespace

console_writer::console_writer(output out, notice say, std::size_t capacity, std::string stream)
    : state_(std::make_shared<state>()), capacity_(capacity), say_(say), stream_(std::move(stream)) {
    thread_ = std::thread([shared = state_, out = std::move(out), say = std::move(say), stream = stream_] {
        run(shared, out, say, stream);
    });
}

console_writer::~console_writer() {
    finish();
}

bool console_writer::write(std::string line) {
    {
        std::unique_lock lock(state_->mutex);
        if (!state_->ending && !state_->failed && state_->bytes + line.size() <= capacity_) {
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
        if (!state_->ending && !state_->failed)
            ++state_->dropped_unreported; // said once the output drains, or by finish
    }
    lines_dropped_in_process.fetch_add(1);
    return false;
}

void console_writer::run(const std::shared_ptr<state>& shared, const output& out, const notice& say,
                         const std::string& stream) {
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
        shared->bytes -= batch.size() > shared->bytes ? shared->bytes : batch.size();
        if (!written) {
            // Gone for good: what waits is lost too, and counted, as is all that comes.
            std::uint64_t lost = lines_in(batch);
            for (const std::string& line : shared->lines)
                lost += lines_in(line);
            shared->lines.clear();
            shared->bytes = 0;
            shared->dropped += lost;
            lines_dropped_in_process.fetch_add(lost);
            if (!std::exchange(shared->failed, true))
                shared->failure_unreported = true;
            shared->drained.notify_all();
            // Once ending, finish says it.
            if (!shared->ending && std::exchange(shared->failure_unreported, false)) {
                lock.unlock();
                say(failed_notice(stream));
                lock.lock();
            }
            continue;
        }
        if (shared->lines.empty()) {
            // Once ending, finish says it (and may no longer be listened to).
            if (shared->dropped_unreported != 0 && !shared->ending) {
                const std::uint64_t count = std::exchange(shared->dropped_unreported, 0);
                lock.unlock();
                say(dropped_notice(count, stream));
                lock.lock();
            }
            if (shared->lines.empty())
                shared->drained.notify_all();
        }
    }
}

std::uint64_t console_writer::finish(std::chrono::milliseconds patience) {
    return finish_by(std::chrono::steady_clock::now() + patience);
}

std::uint64_t console_writer::finish_by(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock lock(state_->mutex);
    if (finished_)
        return state_->dropped;
    finished_ = true;
    state_->ending = true;
    state_->sleeping = false;
    state_->queued.notify_one();
    const bool written =
        state_->drained.wait_until(lock, deadline, [&] { return state_->lines.empty() && !state_->writing; });
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
    const bool failure_unreported = std::exchange(state_->failure_unreported, false);
    lock.unlock();
    if (failure_unreported)
        say_(failed_notice(stream_));
    if (given_up != 0)
        lines_dropped_in_process.fetch_add(given_up);
    if (unreported != 0)
        say_(dropped_notice(unreported, stream_));
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

std::uint64_t lines_dropped() {
    return lines_dropped_in_process.load();
}

void count_lines_dropped(std::uint64_t count) {
    lines_dropped_in_process.fetch_add(count);
}

} // namespace tallowick::console
