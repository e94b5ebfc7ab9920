#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace tallowick::console {

// Writes console lines on a thread of its own from a bounded buffer, so that a
// blocked or slow stream (a console in selection mode, a pipe nobody reads)
// never holds up the threads that report events. When the buffer is full a line
// is dropped whole and counted; once the output drains, one notice says how many
// were dropped. An output that fails (a pipe whose reader has gone) takes nothing
// more: its lines are counted as dropped, and one notice says so. Lines are
// written whole and in the order given.
class console_writer {
  public:
    // Writes all of `bytes`; false when the output failed for good.
    using output = std::function<bool(std::string_view bytes)>;
    // Says something about the console itself (on standard error); may queue
    // the line on this same writer.
    using notice = std::function<void(std::string_view line)>;

    // Bytes of lines waiting to be written, at most: a burst of about 8,000
    // typical lines.
    static constexpr std::size_t default_capacity = 1 << 20;
    // Writes to a pipe up to this size are never interleaved with other writes.
    static constexpr std::size_t whole_write = 4096;
    // Woken by a line, the writer waits this long for more before writing, so a
    // stream of events wakes it about a thousand times a second rather than once
    // a line (each wake costs the reporting thread a system call).
    static constexpr std::chrono::microseconds gathering = std::chrono::milliseconds(1);

    // `stream` names the output in the notices ("standard output").
    console_writer(output out, notice say, std::size_t capacity = default_capacity,
                   std::string stream = "standard output");
    // Finishes with the patience of finish().
    ~console_writer();
    console_writer(const console_writer&) = delete;
    console_writer& operator=(const console_writer&) = delete;

    // Queues `line` (which ends with its line feed); never waits. False when it
    // was dropped for want of room.
    bool write(std::string line);
    // Writes out what is queued, waiting at most `patience` for an output that
    // stays blocked; what could not be written then is dropped and counted.
    // Returns the lines dropped in all.
    std::uint64_t finish(std::chrono::milliseconds patience = std::chrono::seconds(5));
    // The same, waiting at most until `deadline`.
    std::uint64_t finish_by(std::chrono::steady_clock::time_point deadline);
    std::uint64_t dropped() const;

  private:
    struct state {
        std::mutex mutex;
        std::condition_variable queued;  // lines to write, or the end
        std::condition_variable drained; // nothing queued or being written
        std::deque<std::string> lines;
        std::size_t bytes = 0;
        bool writing = false;
        bool sleeping = false; // waiting for a line: the next line wakes it
        bool ending = false;
        bool failed = false; // the output failed for good
        bool failure_unreported = false;
        std::uint64_t dropped = 0;
        std::uint64_t dropped_unreported = 0;
    };
    static void run(const std::shared_ptr<state>& shared, const output& out, const notice& say,
                    const std::string& stream);

    std::shared_ptr<state> state_; // shared with a writer thread left blocked at the end
    std::size_t capacity_;
    notice say_;
    std::string stream_;
    std::thread thread_;
    bool finished_ = false;
};

// Lines every console writer of the process has dropped or failed to write,
// for the run summary.
std::uint64_t lines_dropped();
// Counts `count` more lines lost on their way to the console.
void count_lines_dropped(std::uint64_t count);

} // namespace tallowick::console
