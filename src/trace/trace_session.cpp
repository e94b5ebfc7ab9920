#include "trace/trace_session.h"

#include "console/console.h"
#include "decoding/errors.h"
#include "platform/guid.h"
#include "platform/tracing_api.h"
#include "platform/utf_codec.h"
#include "platform/windows_facts.h"

#include <stdexcept>

namespace etw {
namespace sdk = tallowick::platform::sdk;
namespace platform = tallowick::platform;
using tallowick::platform::current_tracing;

namespace {
constexpr TRACEHANDLE invalid_handle = sdk::invalid_processtrace_handle;

session_statistics statistics_of(const EVENT_TRACE_PROPERTIES& properties) {
    // ULONG on Windows: 32 bits wide there too.
    return {static_cast<std::uint32_t>(properties.EventsLost),
            static_cast<std::uint32_t>(properties.RealTimeBuffersLost),
            static_cast<std::uint32_t>(properties.BuffersWritten),
            static_cast<std::uint32_t>(properties.NumberOfBuffers)};
}

// Stops whatever session runs under `name`; none running is no failure, 234
// (more data) comes from a stop that has been done, and 1230 or 2402 from one
// already on its way. The session's final counters when
// one was stopped.
std::optional<session_statistics> stop_by_name(const std::u16string& name, session_properties block) {
    const std::uint32_t status =
        current_tracing().control_trace(0, name.c_str(), block.get(), sdk::event_trace_control_stop);
    if (status == platform::error_wmi_instance_not_found)
        return std::nullopt;
    if (status == platform::error_connection_active || status == platform::error_active_connections)
        return std::nullopt; // the counters come with the stop under way
    if (status != platform::error_more_data)
        check_status(status);
    return statistics_of(*block.get());
}
} // namespace

trace_session::trace_session(std::u16string name)
    : name_(std::move(name)), printable_name_(tallowick::platform::utf16_to_utf8(name_)),
      controller_handle_(invalid_handle), consumer_handle_(invalid_handle),
      processing_handle_(invalid_handle) {}

void trace_session::start() {
    if (begin())
        process();
}

bool trace_session::begin() {
    const std::lock_guard lock(state_mutex_);
    if (processing_)
        throw std::logic_error("trace session already started");
    if (std::exchange(stop_requested_, false))
        return false;
    processing_handle_ = start_up();
    processing_ = true;
    return true;
}

void trace_session::process() {
    // A stop from now on ends this call: by ending the platform session, or by
    // closing the handle before processing begins (ProcessTrace then fails at once).
    // Processing gets its own copy of the handle, which stop overwrites.
    TRACEHANDLE consumer = processing_handle_;
    std::uint32_t status = platform::error_success;
    try {
        status = current_tracing().process_trace(&consumer, 1, nullptr, nullptr);
    } catch (...) {
        end_processing();
        throw;
    }
    // How processing ended after a stop is the stop's doing, not a failure.
    if (!end_processing())
        check_status(status);
}

void trace_session::forget_ended_session() {
    const std::lock_guard lock(state_mutex_);
    if (processing_)
        return;
    // Its processing has returned: closing loses nothing it was handed.
    try {
        close_session();
    } catch (const std::exception&) {
        // Forgotten all the same; the next registration makes a new consumer.
    }
    controller_handle_ = invalid_handle;
}

std::vector<session_tampering> trace_session::inspect() {
    const std::lock_guard lock(state_mutex_);
    if (!processing_ || stop_requested_ || controller_handle_ == invalid_handle)
        return {};
    session_properties block = fill_properties();
    const std::uint32_t status =
        current_tracing().control_trace(0, name_.c_str(), block.get(), sdk::event_trace_control_query);
    if (status != platform::error_success)
        return {};
    return tampering(*block.get());
}

void trace_session::repair(const session_tampering& found) {
    const std::lock_guard lock(state_mutex_);
    if (!processing_ || stop_requested_ || controller_handle_ == invalid_handle)
        return;
    undo(found);
}

bool trace_session::processing() const {
    const std::lock_guard lock(state_mutex_);
    return processing_;
}

bool trace_session::end_processing() {
    const std::lock_guard lock(state_mutex_);
    processing_ = false;
    processing_ended_.notify_all();
    return std::exchange(stop_requested_, false);
}

TRACEHANDLE trace_session::start_up() {
    if (consumer_handle_ == invalid_handle) {
        register_session();
        activate_providers();
        open_session();
    }
    if (consumer_handle_ == invalid_handle)
        throw open_trace_failure();
    request_rundown();
    return consumer_handle_;
}

void trace_session::register_session() {
    auto& tracing = current_tracing();
    session_properties block = fill_properties();
    TRACEHANDLE handle = invalid_handle;
    std::uint32_t status = tracing.start_trace(&handle, name_.c_str(), block.get());
    if (status == platform::error_already_exists) {
        // Left over from an earlier run, or someone else's: replace it, or use it as
        // it is when we may not stop it.
        bool may_replace = true;
        if (const std::optional<std::string> notice = replacement_notice())
            tallowick::console::write_error_line(*notice);
        try {
            stop_by_name(name_, fill_properties());
        } catch (const need_to_be_admin_failure&) {
            may_replace = false;
        } catch (const invalid_parameter&) {
            may_replace = false;
        }
        if (!may_replace) {
            open_session(); // fails here when it cannot be consumed either
            close_session();
            controller_handle_ = invalid_handle;
            check_attached_session();
            return;
        }
        status = tracing.start_trace(&handle, name_.c_str(), block.get());
    }
    check_status(status);
    controller_handle_ = handle;
}

void trace_session::check_attached_session() {
    session_properties block = fill_properties();
    const std::uint32_t status =
        current_tracing().control_trace(0, name_.c_str(), block.get(), sdk::event_trace_control_query);
    const std::optional<std::string> problem =
        status != platform::error_success ? "it cannot be queried (status " + std::to_string(status) + ")"
                                          : attached_session_problem(*block.get());
    if (problem) {
        foreign_ = true;
        throw attached_session_failure(*problem);
    }
}

void trace_session::open_session() {
    EVENT_TRACE_LOGFILEW logfile{};
    // The name outlives the consumer handle.
    logfile.LoggerName = reinterpret_cast<sdk::wide_char*>(name_.data());
    // Raw stamps: the sessions' own conversions start from their own starts
    // and do not compare (an attached leftover session's least of all).
    logfile.ProcessTraceMode = sdk::process_trace_mode_event_record | sdk::process_trace_mode_real_time |
                               sdk::process_trace_mode_raw_timestamp;
    logfile.Context = this;
    logfile.EventRecordCallback = record_callback();
    logfile.BufferCallback = &trace_session::on_buffer;
    consumer_handle_ = current_tracing().open_trace(&logfile);
    if (consumer_handle_ == invalid_handle)
        throw open_trace_failure();
    clock_ = &record_clock::agent();
    // 0 where the platform says nothing: the clock the agent's own sessions are
    // created with.
    clock_type_ = logfile.LogfileHeader.ReservedFlags != 0 ? logfile.LogfileHeader.ReservedFlags
                                                           : performance_counter_clock;
}

void trace_session::close_session() {
    if (consumer_handle_ == invalid_handle)
        return;
    const std::uint32_t status = current_tracing().close_trace(consumer_handle_);
    // Forgotten even when the close fails; still delivering is no failure.
    consumer_handle_ = invalid_handle;
    if (status != platform::error_ctx_close_pending)
        check_status(status);
}

void trace_session::stop(std::chrono::milliseconds patience) {
    std::unique_lock lock(state_mutex_);
    stop_requested_ = true;
    std::exception_ptr failure;
    bool stopped = false;
    try {
        if (!foreign_) {
            if (auto final_counters = stop_by_name(name_, fill_properties()))
                final_statistics_ = final_counters;
            stopped = true;
        }
    } catch (...) {
        failure = std::current_exception();
    }
    // The stop flushes the session's last buffers, which a closed consumer
    // would never receive: the close waits until processing has taken them and
    // returned, or the bound has passed (a stop that did not take).
    if (stopped && processing_)
        processing_ended_.wait_for(lock, patience, [this] { return !processing_; });
    // Closed whatever the stop call said: a consumer left open would keep the
    // thread that processes it blocked.
    try {
        close_session();
    } catch (...) {
        if (!failure)
            failure = std::current_exception();
    }
    if (failure)
        std::rethrow_exception(failure);
}

std::optional<session_statistics> trace_session::query_statistics() {
    session_properties block = fill_properties();
    const std::uint32_t status =
        current_tracing().control_trace(0, name_.c_str(), block.get(), sdk::event_trace_control_query);
    if (status != platform::error_success)
        return std::nullopt;
    return statistics_of(*block.get());
}

bool trace_session::flush() {
    session_properties block = fill_properties();
    return current_tracing().control_trace(0, name_.c_str(), block.get(), sdk::event_trace_control_flush) ==
           platform::error_success;
}

std::optional<session_statistics> trace_session::final_statistics() const {
    const std::lock_guard lock(state_mutex_);
    return final_statistics_;
}

bool trace_session::take_loss_record(const EVENT_RECORD& record) {
    const std::uint8_t type = record.EventHeader.EventDescriptor.Opcode;
    if (!platform::same_guid(record.EventHeader.ProviderId, platform::event_trace_guid) ||
        (type != platform::realtime_lost_event_type && type != platform::realtime_lost_buffer_type &&
         type != platform::realtime_lost_metadata_type))
        return false;
    loss_records_.fetch_add(1, std::memory_order_relaxed);
    return true;
}

void trace_session::stop_quietly() noexcept {
    try {
        stop();
    } catch (const std::exception& error) {
        report_caught(error.what());
    } catch (...) {
        report_caught("unknown exception");
    }
}

buffer_callback_result trace_session::on_buffer(EVENT_TRACE_LOGFILEW*) {
    return 1;
}

void trace_session::report_caught(std::string_view what) const noexcept {
    try {
        tallowick::console::write_line(
            "TRACE SESSION " + printable_name_ + " CAUGHT ERROR: " + std::string(what), true);
    } catch (...) {
        // Nothing left to tell it with.
    }
}

} // namespace etw
