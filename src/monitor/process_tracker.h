#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <shared_mutex>
#include <string>
#include <unordered_map>

namespace tallowick::monitor {

// A record header's TimeStamp: system time in 100-nanosecond units, the
// clock every session of the agent converts its records to.
using record_time = std::int64_t;

// What the agent learnt about one life of a process id, once, while the
// process was alive: its image path in drive form ("" when it could not be
// learnt) and its owner: the account name ("UNKNOWN" when it could not be
// learnt), or, where it is "", the SID whose account the worker reporting an
// event looks up (an account look-up may ask a domain controller: never on a
// session thread).
struct process_facts {
    std::string image;
    std::string owner;
    std::string owner_sid = {};
};

// The lives of process ids, fed from the process records as they arrive, so
// that a file event is attributed to the program that made it after that
// program has ended, or its id has been given to another.
//
// Written by the kernel session's thread (starts and ends) and, for processes
// older than the agent, by whichever thread sees them first; read by the file
// session's thread and the workers. A reader-writer lock suits that: process
// records are rare next to file records, and a look-up holds the lock only for
// a hash probe, a scan of the few lives of one id and a reference count, with
// no allocation and no platform call. Facts are immutable and shared, so a
// task keeps the life it was given even when the tracker has let it go.
//
// Memory: one entry per live process (or per process seen alive and whose end
// never came), plus ended lives, which are kept while events may still refer
// to them: `grace` of record time after their end, measured against the
// slower of the kernel and the file session, never more than `max_ended`
// of them (the oldest go first), and never more than `max_lives_per_id` lives
// of one process id (an id reused faster than that within the grace period
// loses its oldest lives first).
class process_tracker {
  public:
    struct limits {
        record_time grace = 10 * 10'000'000LL; // 10 s
        std::size_t max_ended = 8192;
        std::size_t max_lives_per_id = 1024;
    };

    // What the tracker can say about a process id at a time.
    enum class verdict {
        covered,   // a known life covers the time: `facts`
        not_known, // nothing known of that time: a live look-up may name it
        not_this,  // the time falls before or between known lives: whatever
                   // runs under that id now is another program
    };
    struct lookup {
        verdict answer = verdict::not_known;
        std::shared_ptr<const process_facts> facts;
        bool ended = false;    // covered by a life whose end is known: final whatever comes
        record_time start = 0; // of the covering life
    };

    process_tracker() : process_tracker(limits{}) {}
    explicit process_tracker(limits bounds);

    // A process start record. An earlier life of the id still open ends here:
    // its end was missed, and the id can only be reused after it.
    void started(std::uint32_t pid, record_time when, process_facts facts);
    // A process end record for an id with an open life; false when there is
    // none (a process older than the agent, never seen), so that the caller
    // can learn its facts and call `ended_unseen`.
    bool ended(std::uint32_t pid, record_time when);
    void ended_unseen(std::uint32_t pid, record_time when, process_facts facts);
    // A process seen alive at `when` without a start record, its facts learnt
    // by a live look-up then: unless a life covers `when` by now, opens one
    // from the end of the id's last life (or from the beginning of time).
    // `created`: the process's creation time where it could be read, so that
    // the life opened for it does not reach back before it.
    std::shared_ptr<const process_facts> seen(std::uint32_t pid, record_time when, process_facts facts,
                                              std::optional<record_time> created = std::nullopt);
    // A process the kernel's rundown named as running when its session
    // started: a life from its creation (from the beginning of time where that
    // could not be read), unless the id has an open life already.
    void ran_before(std::uint32_t pid, std::optional<record_time> created, process_facts facts);
    // How far the kernel session has delivered: the newest stamp of its
    // records. A life not ended by then may still end before a later time.
    void progressed(record_time when);
    record_time progress() const { return progress_.load(std::memory_order_acquire); }
    // How far the file session has delivered: ended lives are kept until it
    // too is past their grace.
    void file_progressed(record_time when);

    lookup find(std::uint32_t pid, record_time when) const;

    std::size_t open_lives() const;
    std::size_t ended_lives() const;

  private:
    struct life {
        record_time start = 0;
        record_time end = 0;
        bool ended = false;
        std::shared_ptr<const process_facts> facts;
    };
    struct ended_life {
        std::uint32_t pid;
        record_time end;
    };

    static lookup find_in(const std::deque<life>& lives, record_time when);
    // Adds a life to the id's, dropping its oldest beyond the bound (lock held).
    void add_life(std::deque<life>& lives, life added);
    // Ends the id's open life at `when` (lock held).
    void end_life(std::uint32_t pid, life& open, record_time when);
    // Lets go of ended lives beyond the grace period or the count (lock held).
    void prune(record_time now);

    const limits limits_;
    mutable std::shared_mutex mutex_;
    std::unordered_map<std::uint32_t, std::deque<life>> lives_; // per id, in start order
    std::deque<ended_life> ended_order_; // in end order; entries of lives dropped already linger
    std::size_t open_count_ = 0;
    std::size_t ended_count_ = 0;
    record_time newest_ = 0;
    std::atomic<record_time> progress_{0};
    std::atomic<record_time> file_progress_{0};
};

} // namespace tallowick::monitor
