#pragma once

#include "platform/simulated/provider_catalog.h"
#include "platform/simulated/record_builder.h"
#include "platform/simulated/record_delivery.h"
#include "platform/simulated/scenario.h"
#include "platform/simulated/session_table.h"
#include "platform/simulated/simulated_system.h"
#include "platform/simulated/tdh_catalog.h"
#include "platform/simulated/version_test.h"
#include "platform/tracing_api.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <random>
#include <stop_token>
#include <string_view>
#include <thread>
#include <vector>

namespace tallowick::platform::simulated {

// The tracing interface answered by a simulated machine: its registered
// providers, named trace sessions under its admin rule and session limit, the
// kernel logger, the version test of its Windows version, consumers processing
// the records the machine delivers, and TDH answers for those records.
// Safe to call from any number of threads.
class simulated_tracing final : public tracing_api {
  public:
    // `system`: whose processes the kernel's rundown enumerates (none without).
    explicit simulated_tracing(const machine_config& machine, const simulated_system* system = nullptr);
    ~simulated_tracing() override;
    simulated_tracing(const simulated_tracing&) = delete;
    simulated_tracing& operator=(const simulated_tracing&) = delete;

    // The waits below return false (or give up) once `stop` is requested and
    // they are woken: whoever requests the stop then calls wake_waiters(). (No
    // stop callback wakes them: on MinGW's runtime, destroying a stop callback
    // while the requesting thread runs it can wait forever.)
    void wake_waiters();
    // Waits until `count` consumers are processing at once (ProcessTrace
    // entered); false when `stop` was requested first.
    bool wait_for_processing(std::size_t count, const std::stop_token& stop);
    // Delivers the record to the sessions that take it, as Windows would: waits
    // until each of them is processing (giving up on the laggards after
    // `patience`), then until every consumer has dispatched it. TDH describes
    // the record while it is delivered. Each record is stamped with the system
    // time of its delivery, later than every record before it.
    // In real-time delivery it writes the record into those sessions' buffers
    // and returns at once (`consumers` then counts the sessions); records were
    // described beforehand.
    // `stamp`: the shared counter's value to stamp it with (0: now).
    delivery_outcome deliver(built_record& record, std::chrono::milliseconds patience,
                             const std::stop_token& stop, std::int64_t stamp = 0);
    // The shared performance counter now, later than every stamp before.
    std::int64_t next_time_stamp();
    // The system time (FILETIME) of a counter value.
    std::int64_t system_time_of(std::int64_t counter) const { return counter + clock_base_; }
    // The hold and release steps: false when no session has that name.
    bool hold(std::u16string_view session);
    bool release(std::u16string_view session, std::chrono::milliseconds patience,
                 const std::stop_token& stop);
    // Another program acting on a session (see outside_step) through the calls
    // the agent makes, with their answers: the status of its call, 4201 when no
    // session has the name.
    std::uint32_t act_outside(const outside_step& outside);
    // Makes TDH know the record, for as long as it may be delivered.
    void describe(const built_record& record) { tdh_.add(record); }
    void forget(const built_record& record) { tdh_.remove(record); }
    // Real-time delivery: hands every partly filled buffer to the consumers, as
    // a flush timer would once the machine is idle.
    void flush_buffers();
    // Real-time delivery: waits until the consumers have read every buffer
    // handed to them; false when `stop` was requested first.
    bool wait_until_read(const std::stop_token& stop);
    delivery_mode delivery() const { return delivery_; }
    std::size_t processing_count() const;
    // COM objects handed out and not yet released.
    std::size_t live_com_objects() const { return providers_.live_objects(); }

    std::uint32_t start_trace(trace_handle* handle, const char16_t* name,
                              EVENT_TRACE_PROPERTIES* properties) override;
    std::uint32_t control_trace(trace_handle handle, const char16_t* name, EVENT_TRACE_PROPERTIES* properties,
                                std::uint32_t control_code) override;
    std::uint32_t enable_trace_ex2(trace_handle handle, const GUID* provider, std::uint32_t control_code,
                                   std::uint8_t level, std::uint64_t match_any_keyword,
                                   std::uint64_t match_all_keyword, std::uint32_t timeout,
                                   const ENABLE_TRACE_PARAMETERS* parameters) override;
    trace_handle open_trace(EVENT_TRACE_LOGFILEW* logfile) override;
    std::uint32_t process_trace(trace_handle* handles, std::uint32_t handle_count, const FILETIME* start_time,
                                const FILETIME* end_time) override;
    std::uint32_t close_trace(trace_handle handle) override;
    std::uint32_t tdh_get_event_information(const EVENT_RECORD* record, std::uint32_t context_count,
                                            const TDH_CONTEXT* context, TRACE_EVENT_INFO* buffer,
                                            std::uint32_t* buffer_size) override;
    std::uint32_t tdh_get_property_size(const EVENT_RECORD* record, std::uint32_t context_count,
                                        const TDH_CONTEXT* context, std::uint32_t descriptor_count,
                                        const PROPERTY_DATA_DESCRIPTOR* descriptors,
                                        std::uint32_t* property_size) override;
    std::uint32_t enumerate_trace_guids_ex(std::uint32_t query_class, const void* in_buffer,
                                           std::uint32_t in_size, void* out_buffer, std::uint32_t out_size,
                                           std::uint32_t* returned) override;
    std::uint32_t nt_query_system_information(std::uint32_t information_class, void* information,
                                              std::uint32_t length, std::uint32_t* return_length) override;
    std::uint32_t nt_set_system_information(std::uint32_t information_class, void* information,
                                            std::uint32_t length) override;
    std::uint64_t ver_set_condition_mask(std::uint64_t condition_mask, std::uint32_t type_mask,
                                         std::uint8_t condition) override;
    std::int32_t verify_version_info(OSVERSIONINFOEXW* info, std::uint32_t type_mask,
                                     std::uint64_t condition_mask) override;
    std::int64_t query_performance_counter() override;
    std::int64_t query_performance_frequency() override;
    std::int64_t system_time() override;
    hresult co_create_guid(GUID* guid) override;
    hresult string_from_clsid(const GUID& clsid, std::u16string& text) override;
    hresult co_initialize_ex(void* reserved, std::uint32_t co_init) override;
    void co_uninitialize() override;
    hresult co_create_instance(const GUID& clsid, void* outer, std::uint32_t class_context, const GUID& iid,
                               void** object) override;
    hresult get_trace_data_providers(void* collection, const char16_t* server) override;
    hresult get_count(void* collection, std::int32_t* count) override;
    hresult get_item(void* collection, std::uint32_t index, void** provider) override;
    hresult get_display_name(void* provider, std::optional<std::u16string>& display_name) override;
    hresult get_guid(void* provider, GUID* guid) override;
    std::uint32_t release(void* object) override;

  private:
    // A process record of the kernel's rundown (opcode 3 or 4) for each
    // process running now, into the session's buffers (lock held).
    void run_down(session_state& session, std::uint8_t opcode, bool unclaimed);
    // Real-time delivery: each session's flush timer (lock not held).
    void run_flush_timers(const std::stop_token& stop);

    // Runs `wait` with the lock held; wake_waiters() wakes it to see a stop.
    template <typename Wait> auto stoppable(Wait wait) {
        std::unique_lock lock(mutex_);
        return wait(lock);
    }

    const reported_version version_;
    const std::chrono::milliseconds start_delay_; // StartTraceW is this slow
    const delivery_mode delivery_;
    provider_catalog providers_;
    tdh_catalog tdh_;

    mutable std::mutex mutex_; // sessions, consumers and the GUID source
    session_table sessions_;
    record_delivery consumers_{sessions_};
    std::mt19937_64 guid_source_;
    std::atomic<std::int64_t> last_time_stamp_{0};
    const simulated_system* system_;
    const std::int64_t clock_base_;             // system time less the counter, at construction
    std::vector<built_record> rundown_records_; // described to TDH while the machine lives
    std::map<const session_state*, std::chrono::steady_clock::time_point> flushed_; // lock held
    std::condition_variable_any timer_wake_;
    std::jthread flush_timers_; // last: it starts once everything else exists
};

} // namespace tallowick::platform::simulated
