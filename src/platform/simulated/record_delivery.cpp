#include "platform/simulated/record_delivery.h"

#include "platform/simulated/machine_clock.h"
#include "platform/windows_facts.h"

#include <algorithm>
#include <exception>
#include <iterator>

namespace tallowick::platform::simulated {
namespace {

// The SDK's wide characters are UTF-16 code units on every platform.
const char16_t* utf16(const sdk::wide_char* text) {
    return reinterpret_cast<const char16_t*>(text);
}

// The WNODE_HEADER clock type of a performance-counter session.
constexpr std::uint32_t performance_counter_clock = 1;
} // namespace

void record_delivery::prepare(const consumer& reader, EVENT_RECORD& record) {
    record.UserContext = reader.logfile.Context;
    // Records carry the shared counter; ProcessTrace converts it to system
    // time from the session's own start unless asked for raw stamps.
    if (!reader.raw)
        record.EventHeader.TimeStamp.QuadPart += reader.session->clock_base;
}

TRACEHANDLE record_delivery::open(EVENT_TRACE_LOGFILEW* logfile) {
    if (logfile == nullptr || logfile->LoggerName == nullptr)
        return sdk::invalid_processtrace_handle;
    const std::uint32_t wanted = sdk::process_trace_mode_real_time | sdk::process_trace_mode_event_record;
    // Log files and the older event callback are not simulated.
    if ((logfile->ProcessTraceMode & wanted) != wanted || logfile->EventRecordCallback == nullptr)
        return sdk::invalid_processtrace_handle;
    std::shared_ptr<session_state> session = sessions_.find(utf16(logfile->LoggerName));
    if (!session)
        return sdk::invalid_processtrace_handle;

    logfile->IsKernelTrace = session->kernel_logger ? 1 : 0;
    logfile->LogfileHeader.PerfFreq.QuadPart = performance_frequency;
    logfile->LogfileHeader.StartTime.QuadPart = session->started_at;
    logfile->LogfileHeader.ReservedFlags = performance_counter_clock;
    const TRACEHANDLE handle = next_handle_++;
    consumer& reader = consumers_[handle];
    reader.raw = (logfile->ProcessTraceMode & sdk::process_trace_mode_raw_timestamp) != 0;
    for (std::shared_ptr<trace_buffer>& buffer : session->unclaimed) {
        ++buffer->readers;
        reader.buffers.push_back(std::move(buffer));
    }
    session->unclaimed.clear();
    reader.session = std::move(session);
    reader.logfile = *logfile;
    reader.logger_name = utf16(logfile->LoggerName);
    reader.logfile.LoggerName = reinterpret_cast<sdk::wide_char*>(reader.logger_name.data());
    return handle;
}

std::uint32_t record_delivery::process(const TRACEHANDLE* handles, std::uint32_t handle_count,
                                       lock_type& lock) {
    if (handles == nullptr || handle_count != 1)
        return error_invalid_parameter; // one real-time session per call
    const auto found = consumers_.find(*handles);
    if (found == consumers_.end() || found->second.closed)
        return error_invalid_handle;
    consumer& reader = found->second;
    if (reader.processing)
        return error_busy;
    reader.processing = true;
    changed_.notify_all();

    std::exception_ptr failure;
    bool keep_going = true;
    while (keep_going && !failure) {
        // Whole buffers, also after a close: the consumer "will stop after it
        // has processed all real-time events in its buffers".
        if (!reader.buffers.empty()) {
            std::shared_ptr<trace_buffer> buffer = std::move(reader.buffers.front());
            reader.buffers.pop_front();
            ++buffers_reading_;
            lock.unlock();
            try {
                keep_going = read_buffer(reader, *buffer);
            } catch (...) {
                failure = std::current_exception();
            }
            lock.lock();
            --buffers_reading_;
            reader.session->buffers->read(buffer);
            changed_.notify_all();
            continue;
        }
        if (!reader.closed && !reader.arriving.empty()) {
            std::move(reader.arriving.begin(), reader.arriving.end(), std::back_inserter(reader.buffers));
            reader.arriving.clear();
            continue;
        }
        if (!reader.closed && !reader.queue.empty()) {
            ticket* next = reader.queue.front();
            reader.queue.pop_front();
            EVENT_RECORD record = *next->record;
            prepare(reader, record);
            lock.unlock();
            try {
                reader.logfile.EventRecordCallback(&record);
                if (reader.logfile.BufferCallback != nullptr) {
                    ++reader.logfile.BuffersRead;
                    keep_going = reader.logfile.BufferCallback(&reader.logfile) != 0;
                }
            } catch (...) {
                failure = std::current_exception();
            }
            lock.lock();
            --next->outstanding;
            changed_.notify_all();
            continue;
        }
        // A stopped session's consumers still get what was handed to them.
        if (reader.closed || reader.session->stopped)
            break;
        reader.wake.wait(lock);
    }
    end_processing(found);
    if (failure)
        std::rethrow_exception(failure);
    return error_success;
}

std::uint32_t record_delivery::close(TRACEHANDLE handle) {
    const auto found = consumers_.find(handle);
    if (found == consumers_.end() || found->second.closed)
        return error_invalid_handle;
    found->second.closed = true;
    for (const auto& buffer : found->second.arriving)
        found->second.session->buffers->read(buffer); // gone unread, its room free again
    found->second.arriving.clear();
    if (found->second.processing) {
        found->second.wake.notify_one();
        changed_.notify_all();
        return error_ctx_close_pending;
    }
    consumers_.erase(found);
    return error_success;
}

void record_delivery::sessions_changed() {
    for (auto& [handle, reader] : consumers_)
        reader.wake.notify_one();
    changed_.notify_all();
}

bool record_delivery::wait_for_processing(std::size_t count, lock_type& lock, const std::stop_token& stop) {
    changed_.wait(lock, [&] { return stop.stop_requested() || processing_count() >= count; });
    return !stop.stop_requested();
}

std::vector<std::shared_ptr<session_state>>
record_delivery::delivering_takers(const EVENT_RECORD& record, const session_state* only) const {
    std::vector<std::shared_ptr<session_state>> takers = sessions_.takers(record);
    std::erase_if(takers,
                  [&](const auto& taker) { return taker->held || (only != nullptr && taker.get() != only); });
    return takers;
}

delivery_outcome record_delivery::deliver(const EVENT_RECORD& record, std::chrono::milliseconds patience,
                                          lock_type& lock, const std::stop_token& stop,
                                          const session_state* only) {
    delivery_outcome outcome;
    if (only == nullptr)
        keep_for_held(record);
    const auto every_taker_processing = [&] {
        const auto takers = delivering_takers(record, only);
        return std::all_of(takers.begin(), takers.end(),
                           [&](const auto& taker) { return is_processing(*taker); });
    };
    const auto deadline = std::chrono::steady_clock::now() + patience;
    const bool ready = changed_.wait_until(lock, deadline,
                                           [&] { return stop.stop_requested() || every_taker_processing(); });
    if (stop.stop_requested()) {
        outcome.abandoned = true;
        return outcome;
    }
    if (!ready) {
        for (const auto& taker : delivering_takers(record, only))
            if (!is_processing(*taker))
                outcome.not_processing.push_back(taker->name);
    }

    ticket handed{&record, 0};
    for (const auto& taker : delivering_takers(record, only)) {
        for (auto& [handle, reader] : consumers_) {
            if (reader.session == taker && is_processing(reader)) {
                reader.queue.push_back(&handed);
                ++handed.outstanding;
                reader.wake.notify_one();
            }
        }
    }
    outcome.consumers = handed.outstanding;
    changed_.wait(lock, [&] { return stop.stop_requested() || handed.outstanding == 0; });
    if (handed.outstanding != 0) {
        // Withdraw it where no callback has begun; a callback under way finishes.
        for (auto& [handle, reader] : consumers_) {
            const auto before = reader.queue.size();
            std::erase(reader.queue, &handed);
            handed.outstanding -= before - reader.queue.size();
        }
        changed_.wait(lock, [&] { return handed.outstanding == 0; });
        outcome.abandoned = true;
    }
    return outcome;
}

bool record_delivery::read_buffer(consumer& reader, const trace_buffer& buffer) {
    buffer.for_each_record([&](EVENT_RECORD& record) {
        prepare(reader, record);
        reader.logfile.EventRecordCallback(&record);
    });
    if (reader.logfile.BufferCallback == nullptr)
        return true;
    ++reader.logfile.BuffersRead;
    return reader.logfile.BufferCallback(&reader.logfile) != 0;
}

void record_delivery::hand_over(session_state& session, std::shared_ptr<trace_buffer> buffer) {
    for (auto& [handle, reader] : consumers_) {
        if (reader.session.get() == &session && !reader.closed) {
            reader.buffers.push_back(buffer);
            ++buffer->readers;
            reader.wake.notify_one();
        }
    }
    if (buffer->readers == 0)
        session.buffers->lost_in_transit(buffer);
}

void record_delivery::keep_for_held(const EVENT_RECORD& record) {
    sessions_.for_each_taker(record, [&](session_state& session) {
        if (session.held)
            session.kept.emplace_back(record);
    });
}

std::size_t record_delivery::write(const EVENT_RECORD& record) {
    std::size_t takers = 0;
    sessions_.for_each_taker(record, [&](session_state& session) {
        ++takers;
        if (session.held) {
            session.kept.emplace_back(record);
            return;
        }
        write_into(session, record);
    });
    return takers;
}

void record_delivery::write_into(session_state& session, const EVENT_RECORD& record) {
    std::shared_ptr<trace_buffer> full;
    session.buffers->write(record, full);
    if (full)
        hand_over(session, std::move(full));
}

bool record_delivery::release(session_state& session, bool real_time, std::chrono::milliseconds patience,
                              lock_type& lock, const std::stop_token& stop) {
    session.held = false;
    while (!session.kept.empty()) {
        kept_record next = std::move(session.kept.front());
        session.kept.pop_front();
        if (real_time) {
            write_into(session, next.view());
            continue;
        }
        if (deliver(next.view(), patience, lock, stop, &session).abandoned)
            return false;
    }
    if (real_time)
        flush(session);
    return true;
}

void record_delivery::write_unclaimed(session_state& session, const EVENT_RECORD& record) {
    std::shared_ptr<trace_buffer> full;
    session.buffers->write(record, full);
    if (full)
        session.unclaimed.push_back(std::move(full));
}

void record_delivery::close_unclaimed(session_state& session) {
    if (std::shared_ptr<trace_buffer> last = session.buffers->flush())
        session.unclaimed.push_back(std::move(last));
}

bool record_delivery::wait_until_read(lock_type& lock, const std::stop_token& stop) {
    changed_.wait(lock, [&] {
        return stop.stop_requested() ||
               (buffers_reading_ == 0 &&
                std::all_of(consumers_.begin(), consumers_.end(),
                            [](const auto& entry) { return entry.second.buffers.empty(); }));
    });
    return !stop.stop_requested();
}

void record_delivery::flush_all() {
    sessions_.for_each_session([&](session_state& session) { flush(session); });
}

void record_delivery::flush(session_state& session) {
    if (session.held)
        return;
    if (std::shared_ptr<trace_buffer> last = session.buffers->flush())
        hand_over(session, std::move(last));
}

void record_delivery::flush_stopped(session_state& session) {
    std::shared_ptr<trace_buffer> last = session.buffers->flush();
    if (!last)
        return;
    bool arriving = false;
    for (auto& [handle, reader] : consumers_) {
        if (reader.session.get() == &session && !reader.closed) {
            reader.arriving.push_back(last);
            ++last->readers;
            reader.wake.notify_one();
            arriving = true;
        }
    }
    if (!arriving)
        session.buffers->lost_in_transit(last);
}

std::size_t record_delivery::processing_count() const {
    return static_cast<std::size_t>(
        std::count_if(consumers_.begin(), consumers_.end(),
                      [&](const auto& entry) { return is_processing(entry.second); }));
}

bool record_delivery::is_processing(const session_state& session) const {
    return std::any_of(consumers_.begin(), consumers_.end(), [&](const auto& entry) {
        return entry.second.session.get() == &session && is_processing(entry.second);
    });
}

void record_delivery::end_processing(consumer_map::iterator reader) {
    for (ticket* dropped : reader->second.queue)
        --dropped->outstanding;
    reader->second.queue.clear();
    for (const auto& unread : reader->second.buffers)
        reader->second.session->buffers->lost_in_transit(unread);
    reader->second.buffers.clear();
    for (const auto& unread : reader->second.arriving)
        reader->second.session->buffers->read(unread);
    reader->second.arriving.clear();
    reader->second.processing = false;
    if (reader->second.closed)
        consumers_.erase(reader);
    changed_.notify_all();
}

} // namespace tallowick::platform::simulated
