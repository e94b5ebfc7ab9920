#pragma once

#include "platform/sdk/etw_types.h"
#include "platform/simulated/session_table.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>
#include <vector>

namespace tallowick::platform::simulated {

// What became of one record handed to the sessions.
struct delivery_outcome {
    std::size_t consumers = 0;                  // consumers whose callback received it
    std::size_t generated = 0;                  // sessions for which the provider wrote it
    std::vector<std::u16string> not_processing; // sessions that took it but never processed in time
    bool abandoned = false;                     // the wait was given up on request
};

// The consumer side of the machine's sessions: consumer handles, ProcessTrace
// delivering records on the calling thread until its session stops or the handle
// closes, CloseTrace, and the hand-over of a record to every processing consumer
// of the sessions that take it. Every call comes with the tracing realisation's
// lock held (`lock`); callbacks run without it. The waits end early on a stop
// request, which the caller turns into `wake_waiters` under the lock.
class record_delivery {
  public:
    using lock_type = std::unique_lock<std::mutex>;

    explicit record_delivery(const session_table& sessions) : sessions_(sessions) {}

    // OpenTraceW: a real-time, event-record consumer of a running session.
    TRACEHANDLE open(EVENT_TRACE_LOGFILEW* logfile);
    // ProcessTrace for one handle. An exception thrown by a callback ends the
    // processing and leaves through here.
    std::uint32_t process(const TRACEHANDLE* handles, std::uint32_t handle_count, lock_type& lock);
    // CloseTrace: 7007 while ProcessTrace runs on the handle (it returns soon
    // after), else 0; 6 for a handle that is not open.
    std::uint32_t close(TRACEHANDLE handle);
    // Wakes the consumers and the waiting player after sessions changed.
    void sessions_changed();

    // Wakes the waits below (a stop was requested).
    void wake_waiters() { changed_.notify_all(); }
    // Waits until `count` consumers are processing at once; false when stopped.
    bool wait_for_processing(std::size_t count, lock_type& lock, const std::stop_token& stop);
    // Waits until every session that takes the record is processing (giving up
    // on the laggards after `patience`), hands the record to their consumers and
    // waits until each has dispatched it.
    // Held sessions keep a copy instead and are not waited for. `only`: to
    // that session alone (a release), kept nowhere.
    delivery_outcome deliver(const EVENT_RECORD& record, std::chrono::milliseconds patience, lock_type& lock,
                             const std::stop_token& stop, const session_state* only = nullptr);
    // Ends a hold: delivers what the session kept, in order (real time:
    // writes it into its buffers and flushes them). False when stopped.
    bool release(session_state& session, bool real_time, std::chrono::milliseconds patience, lock_type& lock,
                 const std::stop_token& stop);
    // The session's rundown, written before any consumer opened it: kept in
    // its buffers for the first consumer that opens it.
    void write_unclaimed(session_state& session, const EVENT_RECORD& record);
    void close_unclaimed(session_state& session);
    // Writes the record into the session's buffers (a held session's too).
    void write_into(session_state& session, const EVENT_RECORD& record);

    std::size_t processing_count() const;

    // Real-time delivery: writes the record into the buffers of every session
    // that takes it, handing buffers it fills to their consumers; never waits.
    // Returns the sessions that took it (written or lost).
    std::size_t write(const EVENT_RECORD& record);
    // Hands every session's partly filled buffer to its consumers.
    void flush_all();
    // Waits until every consumer has read every buffer handed to it; false when stopped.
    bool wait_until_read(lock_type& lock, const std::stop_token& stop);
    // Hands the session's partly filled buffer to its consumers.
    void flush(session_state& session);
    // The same for a stop: the buffer reaches each consumer once its
    // ProcessTrace takes it, so a consumer closed right after the stop never
    // sees it ("ProcessTrace will not receive any new events" after CloseTrace).
    void flush_stopped(session_state& session);

  private:
    // A record on its way: the consumers still to dispatch it.
    struct ticket {
        const EVENT_RECORD* record = nullptr;
        std::size_t outstanding = 0;
    };
    struct consumer {
        std::shared_ptr<const session_state> session;
        bool raw = false;               // PROCESS_TRACE_MODE_RAW_TIMESTAMP: stamps unconverted
        EVENT_TRACE_LOGFILEW logfile{}; // what the buffer callback is given
        std::u16string logger_name;     // logfile.LoggerName points here
        bool processing = false;
        bool closed = false;
        std::deque<ticket*> queue;
        std::deque<std::shared_ptr<trace_buffer>> buffers; // real-time: whole buffers to read
        // A stop's last buffers on their way: read once ProcessTrace takes them,
        // gone (uncounted, as on Windows) when the handle is closed first.
        std::deque<std::shared_ptr<trace_buffer>> arriving;
        std::condition_variable wake; // work queued, handle closed or session stopped
    };
    using consumer_map = std::map<TRACEHANDLE, consumer>;

    // What a consumer's callback is given: its context, its session's clock.
    static void prepare(const consumer& reader, EVENT_RECORD& record);
    // The sessions a record is delivered to now: not the held ones.
    std::vector<std::shared_ptr<session_state>> delivering_takers(const EVENT_RECORD& record,
                                                                  const session_state* only) const;
    void keep_for_held(const EVENT_RECORD& record);
    bool is_processing(const consumer& reader) const { return reader.processing && !reader.closed; }
    bool is_processing(const session_state& session) const;
    // Ends a ProcessTrace: drops what is queued, forgets a closed handle.
    void end_processing(consumer_map::iterator reader);
    // Gives a filled buffer to every open consumer of the session; with none,
    // it is lost in transit.
    void hand_over(session_state& session, std::shared_ptr<trace_buffer> buffer);
    // Dispatches every record of the buffer, then calls the buffer callback;
    // false when the callback asks to stop. Runs without the lock.
    static bool read_buffer(consumer& reader, const trace_buffer& buffer);

    const session_table& sessions_;
    // What the player waits for: consumers processing, records dispatched.
    std::condition_variable changed_;
    consumer_map consumers_;
    std::size_t buffers_reading_ = 0;
    TRACEHANDLE next_handle_ = 0x1'0000'0001;
};

} // namespace tallowick::platform::simulated
