#pragma once

#include "decoding/trace_context.h"
#include "platform/sdk/etw_types.h"
#include "trace/record_clock.h"
#include "trace/session_properties.h"
#include "trace/session_tampering.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace etw {

// The counters of a session's buffers that tell of loss: events that found no
// free buffer, and buffers that did not reach the consumer. The platform's
// counters are 32 bits wide and may wrap: the reader keeps the totals.
struct session_statistics {
    std::uint32_t events_lost = 0;
    std::uint32_t realtime_buffers_lost = 0;
    std::uint32_t buffers_written = 0;
    std::uint32_t number_of_buffers = 0;
};

// What the buffer callback returns: ULONG on Windows.
using buffer_callback_result = decltype(std::declval<PEVENT_TRACE_BUFFER_CALLBACKW>()(nullptr));

// One real-time trace session of the platform, controller and consumer in one:
// `start` creates it under its name, switches its providers on and delivers its
// records on the calling thread until `stop` ends it. The two kinds of session
// differ in their properties block, how they switch providers on, and how they
// dispatch records.
class trace_session {
  public:
    trace_session(const trace_session&) = delete;
    trace_session& operator=(const trace_session&) = delete;
    virtual ~trace_session() = default;

    // Registers the session (stopping and replacing a leftover one of the same
    // name, or attaching to it when it may not be stopped), enables the
    // providers, opens it and processes its records until it is stopped. A stop
    // that came while no start was running is honoured by the next start, which
    // then returns at once: so a stop can never miss a start that was on its way.
    // Throws the trace errors; std::logic_error while another start runs.
    // `begin` and then `process`.
    void start();

    // The start up to processing. False when a stop came first (it is
    // answered); then there is nothing to process.
    bool begin();
    // Processes the records of the session `begin` made ready until it is
    // stopped, by us or from outside (processing then returns, as on Windows).
    // Throws when processing fails while no stop of ours came.
    void process();
    // After processing ended without a stop of ours (the session was stopped
    // from outside): forgets that platform session and closes our consumer, so
    // that the next `begin` registers the session anew under the same name,
    // with the same providers and buffers.
    void forget_ended_session();

    // What someone else changed in the running session: a provider of ours no
    // longer enabled in it with our level and keywords, the kernel flags ours
    // no longer set. Nothing while the session does not process, is being
    // stopped, is one we attached to, or cannot be queried (a stopped session
    // is restored by the thread whose processing it ended). Any thread.
    std::vector<session_tampering> inspect();
    // Undoes one finding of `inspect`: enables the provider again with our
    // settings, or sets the enable flags again. Throws the trace errors.
    void repair(const session_tampering& found);

    // Whether start has set the session up and hands its records over now.
    bool processing() const;

    // Stops the platform session by name and, once processing has read the
    // buffers the stop flushed and returned (at most `patience` later), closes
    // the consumer handle, which makes a running start return. Any thread;
    // harmless twice. The handle is closed even when the stop call fails, then
    // that failure is thrown.
    static constexpr std::chrono::milliseconds last_buffers_patience{2000};
    void stop(std::chrono::milliseconds patience = last_buffers_patience);

    // The buffers the session asks for when it registers; before `start` only.
    void size_buffers(const session_buffers& buffers) { buffers_ = buffers; }
    const session_buffers& buffers() const { return buffers_; }

    // The platform session's counters now, or nothing when it does not run or
    // cannot be asked. Any thread.
    std::optional<session_statistics> query_statistics();
    // Has the platform hand the session's partly filled buffers to its
    // consumer now, not at its next flush timer; false when it cannot. Any thread.
    bool flush();
    // The counters the last stop of a running session reported.
    std::optional<session_statistics> final_statistics() const;
    // The lost-event records (RT_LostEvent) the session delivered so far: each
    // says that events were lost on their way to us. Any thread.
    std::uint64_t loss_records() const { return loss_records_.load(std::memory_order_relaxed); }

    const std::u16string& name() const { return name_; }
    const trace_context& context() const { return context_; }

    // The buffer callback: processing always goes on.
    static buffer_callback_result on_buffer(EVENT_TRACE_LOGFILEW* logfile);

  protected:
    // `name` is final: checked and resolved by the kind of session.
    explicit trace_session(std::u16string name);

    // A new block for a control call.
    virtual session_properties fill_properties() = 0;
    // Switch the providers on for a registered session.
    virtual void activate_providers() = 0;
    // Ask for the providers' capture-state (rundown) passes before processing.
    virtual void request_rundown() = 0;
    virtual PEVENT_RECORD_CALLBACK record_callback() const = 0;
    // Why a running session we attach to, as a query of it describes it (logger
    // id in Wnode.HistoricalContext, EnableFlags), cannot deliver what our
    // providers write; nothing when it can.
    virtual std::optional<std::string> attached_session_problem(const EVENT_TRACE_PROPERTIES& queried) = 0;
    // What differs from our settings in the running session as a query of it
    // describes it (logger id in Wnode.HistoricalContext, EnableFlags).
    virtual std::vector<session_tampering> tampering(const EVENT_TRACE_PROPERTIES& queried) = 0;
    // Puts one finding right in our registered session.
    virtual void undo(const session_tampering& found) = 0;
    // Said on standard error before a running session of our name is stopped to
    // take its place, where that name may be another tool's; nothing when not.
    virtual std::optional<std::string> replacement_notice() const { return std::nullopt; }

    // Valid after a registration of our own; invalid after attaching.
    TRACEHANDLE controller_handle() const { return controller_handle_; }

    // The destructor's stop: a failure is printed, never thrown.
    void stop_quietly() noexcept;

    // Puts the record's raw stamp into system time by the agent's one clock,
    // before anything reads it.
    void restamp(EVENT_RECORD& record) const {
        record.EventHeader.TimeStamp.QuadPart =
            clock_->system_time_of(record.EventHeader.TimeStamp.QuadPart, clock_type_);
    }

    // The session whose records `record` belongs to (the consumer's Context).
    template <typename Session> static Session& session_of(const EVENT_RECORD& record) {
        return static_cast<Session&>(*static_cast<trace_session*>(record.UserContext));
    }

    // Counts `record` when it is a lost-event record, which is the trace
    // system's notice and never an event to decode. Returns whether it was one.
    bool take_loss_record(const EVENT_RECORD& record);

    // The record callbacks' boundary towards the platform: whatever `dispatch`
    // throws is printed, the record dropped, and processing goes on.
    template <typename Dispatch> void deliver(Dispatch&& dispatch) noexcept {
        try {
            std::forward<Dispatch>(dispatch)();
        } catch (const std::exception& error) {
            report_caught(error.what());
        } catch (...) {
            report_caught("unknown exception");
        }
    }

  private:
    // Everything up to processing; returns the consumer handle to process.
    TRACEHANDLE start_up();
    // Returns whether a stop ended the processing (and answers it).
    bool end_processing();
    void register_session();
    // Throws attached_session_failure when the session we attached to cannot
    // deliver our providers' records.
    void check_attached_session();
    void open_session();
    void close_session();
    void report_caught(std::string_view what) const noexcept;

    std::u16string name_;
    std::string printable_name_; // UTF-8, for console lines
    TRACEHANDLE controller_handle_;
    const record_clock* clock_ = &record_clock::agent();
    std::uint32_t clock_type_ = performance_counter_clock; // of the session opened, from its log file header
    TRACEHANDLE consumer_handle_;
    trace_context context_;
    session_buffers buffers_;

    // Serialises start-up and stop, and guards the handles and the two flags
    // below; never held while records are delivered.
    mutable std::mutex state_mutex_;
    std::condition_variable processing_ended_;
    bool processing_ = false;
    TRACEHANDLE processing_handle_; // what `process` processes: its own copy, which stop leaves alone
    bool stop_requested_ = false;   // a stop no start has answered yet
    std::optional<session_statistics> final_statistics_;
    bool foreign_ = false; // someone else's session, useless to us: never stopped by us
    std::atomic<std::uint64_t> loss_records_{0};
};

} // namespace etw
