#pragma once

#include "monitor/process_attribution.h"
#include "monitor/process_tracker.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace tallowick::monitor {

// File records whose process the tracker cannot name yet: the kernel session
// hands its buffers over on its own flush timer, so a start record may come a
// second after the file record it explains. Each waits here, on a thread of
// its own, never on a session thread and never holding up other records,
// until the kernel session has delivered past its time, a live look-up proves
// the author, or `max_wait` has passed; then its task goes on with the origin.
// While anything waits the kernel session is asked to flush, at most once per
// `flush_interval`.
class pending_attribution {
  public:
    // The longest a record waits for the kernel session.
    static constexpr std::chrono::milliseconds max_wait{2000};
    static constexpr std::chrono::milliseconds flush_interval{100};

    using resume_task = std::function<void(event_origin)>;

    // `flush_kernel`: asks the kernel session to flush (may be empty).
    pending_attribution(process_tracker& tracker, std::function<void()> flush_kernel);
    // Decides what still waits at once, as its bound had passed (see finish).
    ~pending_attribution();
    pending_attribution(const pending_attribution&) = delete;
    pending_attribution& operator=(const pending_attribution&) = delete;

    process_tracker& tracker() { return tracker_; }

    // The record's origin to `resume`, now (on the caller's thread) when the
    // tracker can tell, else once it can.
    void attribute(std::uint32_t pid, record_time when, resume_task resume);
    // The kernel session delivered a record stamped `when`.
    void kernel_progressed(record_time when);

    // Stops waiting: decides what still waits at once, as its bound had passed.
    // Once the sessions have stopped; harmless twice.
    void finish();

    std::size_t waiting() const;
    // Records decided only at the bound, the kernel session silent past them.
    std::size_t decided_at_bound() const;
    // Records that waited and that nothing could name (sent as UNKNOWN).
    std::size_t unnamed() const;

  private:
    struct parked {
        std::uint32_t pid;
        record_time when;
        std::chrono::steady_clock::time_point deadline;
        resume_task resume;
    };
    void run(const std::stop_token& stop);
    // Decides what can be decided (lock not held); `final`: everything.
    void decide(std::deque<parked>& batch, bool final);

    process_tracker& tracker_;
    std::function<void()> flush_kernel_;
    mutable std::mutex mutex_;
    std::condition_variable_any wake_;
    std::deque<parked> parked_;
    bool progressed_ = false;
    bool fresh_ = false; // records parked since the last pass
    std::size_t decided_at_bound_ = 0;
    std::size_t unnamed_ = 0;
    std::jthread thread_; // last: it starts once everything else exists
};

} // namespace tallowick::monitor
