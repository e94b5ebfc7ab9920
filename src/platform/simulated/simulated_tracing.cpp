#include "platform/simulated/simulated_tracing.h"

#include "platform/simulated/guids.h"
#include "platform/simulated/machine_clock.h"
#include "platform/utf_codec.h"
#include "platform/windows_facts.h"

#include <algorithm>
#include <cstring>
#include <thread>

namespace tallowick::platform::simulated {
namespace {

// The shortest wait between two looks at the flush timers, and a timer of 0
// taken as 1 s.
constexpr auto timer_tick = std::chrono::milliseconds(50);
constexpr std::uint32_t default_flush_timer_s = 1;

// The kernel's name of a process image: its last component.
std::string image_file_name_of(const std::string& image) {
    const auto slash = image.find_last_of('\\');
    return slash == std::string::npos ? image : image.substr(slash + 1);
}

} // namespace

simulated_tracing::simulated_tracing(const machine_config& machine, const simulated_system* system)
    : version_(reported_version::of(machine.major_version, machine.minor_version)),
      start_delay_(machine.session_start_delay_ms), delivery_(machine.delivery),
      providers_(machine.providers), sessions_(machine), guid_source_(std::random_device{}()),
      system_(system), clock_base_(counter_base()) {
    if (delivery_ == delivery_mode::real_time)
        flush_timers_ = std::jthread([this](std::stop_token stop) { run_flush_timers(std::move(stop)); });
}

simulated_tracing::~simulated_tracing() {
    if (flush_timers_.joinable()) {
        flush_timers_.request_stop();
        {
            const std::lock_guard lock(mutex_);
            timer_wake_.notify_all();
        }
        flush_timers_.join();
    }
    for (const built_record& record : rundown_records_)
        tdh_.remove(record);
}

void simulated_tracing::run_flush_timers(const std::stop_token& stop) {
    std::unique_lock lock(mutex_);
    auto next = std::chrono::steady_clock::now() + std::chrono::seconds(default_flush_timer_s);
    while (!stop.stop_requested()) {
        timer_wake_.wait_until(lock, next, [&] { return stop.stop_requested(); });
        const auto now = std::chrono::steady_clock::now();
        next = now + std::chrono::seconds(default_flush_timer_s);
        // Each session's timer runs from its own start, so sessions hand their
        // buffers over at moments of their own.
        sessions_.for_each_session([&](session_state& session) {
            const std::uint32_t setting = session.buffers->settings().flush_timer_s;
            const auto timer = std::chrono::seconds(setting == 0 ? default_flush_timer_s : setting);
            auto [at, fresh] = flushed_.try_emplace(&session, now);
            if (!fresh && now - at->second >= timer) {
                at->second = now;
                consumers_.flush(session);
            }
            next = std::min(next, at->second + timer);
        });
        next = std::max(next, now + timer_tick);
    }
}

std::int64_t simulated_tracing::next_time_stamp() {
    // The counter's 100 ns steps can repeat; the records of a machine cannot.
    const std::int64_t now = performance_counter_now();
    std::int64_t last = last_time_stamp_.load();
    while (!last_time_stamp_.compare_exchange_weak(last, std::max(now, last + 1))) {
    }
    return std::max(now, last + 1);
}

void simulated_tracing::run_down(session_state& session, std::uint8_t opcode, bool unclaimed) {
    if (system_ == nullptr || !session.runs_down_processes())
        return;
    for (const process_entry& process : system_->running_processes()) {
        process_event event;
        event.opcode = opcode;
        event.process_id = process.pid;
        event.parent_id = process.parent_pid;
        event.user_sid = process.user_sid;
        event.image_file_name = image_file_name_of(process.image);
        event.command_line = utf8_to_utf16(process.command_line);
        event.header_process_id = process.pid;
        built_record record = build_record(describe_process_event(event));
        record.record().EventHeader.TimeStamp.QuadPart = next_time_stamp();
        tdh_.add(record);
        if (unclaimed)
            consumers_.write_unclaimed(session, record.record());
        else
            consumers_.write_into(session, record.record());
        rundown_records_.push_back(std::move(record));
    }
    if (unclaimed)
        consumers_.close_unclaimed(session);
}

bool simulated_tracing::hold(std::u16string_view name) {
    const std::lock_guard lock(mutex_);
    const std::shared_ptr<session_state> session = sessions_.find(name);
    if (!session)
        return false;
    // What was written before the hold goes on its way.
    if (delivery_ == delivery_mode::real_time)
        consumers_.flush(*session);
    session->held = true;
    return true;
}

bool simulated_tracing::release(std::u16string_view name, std::chrono::milliseconds patience,
                                const std::stop_token& stop) {
    return stoppable([&](std::unique_lock<std::mutex>& lock) {
        const std::shared_ptr<session_state> session = sessions_.find(name);
        if (!session)
            return false;
        consumers_.release(*session, delivery_ == delivery_mode::real_time, patience, lock, stop);
        return true;
    });
}

void simulated_tracing::wake_waiters() {
    const std::lock_guard lock(mutex_);
    consumers_.wake_waiters();
}

bool simulated_tracing::wait_for_processing(std::size_t count, const std::stop_token& stop) {
    return stoppable([&](std::unique_lock<std::mutex>& lock) {
        return consumers_.wait_for_processing(count, lock, stop);
    });
}

delivery_outcome simulated_tracing::deliver(built_record& record, std::chrono::milliseconds patience,
                                            const std::stop_token& stop, std::int64_t stamp) {
    record.record().EventHeader.TimeStamp.QuadPart = stamp != 0 ? stamp : next_time_stamp();
    std::size_t generated = 0;
    {
        const std::lock_guard lock(mutex_);
        sessions_.for_each_session([&](const session_state& session) {
            if (session.generates(record.record()))
                ++generated;
        });
    }
    if (delivery_ == delivery_mode::real_time) {
        const std::lock_guard lock(mutex_);
        delivery_outcome outcome;
        outcome.consumers = consumers_.write(record.record());
        outcome.generated = generated;
        return outcome;
    }
    tdh_.add(record);
    delivery_outcome outcome = stoppable([&](std::unique_lock<std::mutex>& lock) {
        return consumers_.deliver(record.record(), patience, lock, stop);
    });
    tdh_.remove(record);
    outcome.generated = generated;
    return outcome;
}

void simulated_tracing::flush_buffers() {
    const std::lock_guard lock(mutex_);
    consumers_.flush_all();
}

bool simulated_tracing::wait_until_read(const std::stop_token& stop) {
    return stoppable(
        [&](std::unique_lock<std::mutex>& lock) { return consumers_.wait_until_read(lock, stop); });
}

std::size_t simulated_tracing::processing_count() const {
    const std::lock_guard lock(mutex_);
    return consumers_.processing_count();
}

std::uint32_t simulated_tracing::start_trace(trace_handle* handle, const char16_t* name,
                                             EVENT_TRACE_PROPERTIES* properties) {
    // A slow start holds up its caller only, as a busy machine would: the rest
    // of the machine answers meanwhile.
    if (start_delay_.count() > 0)
        std::this_thread::sleep_for(start_delay_);
    const std::lock_guard lock(mutex_);
    const std::uint32_t status = sessions_.start(handle, name, properties);
    if (status == error_success)
        if (const std::shared_ptr<session_state> started = sessions_.find_by_handle(*handle))
            run_down(*started, rundown_start_opcode, true);
    return status;
}

std::uint32_t simulated_tracing::control_trace(trace_handle handle, const char16_t* name,
                                               EVENT_TRACE_PROPERTIES* properties,
                                               std::uint32_t control_code) {
    const std::lock_guard lock(mutex_);
    std::shared_ptr<session_state> stopped;
    const std::uint32_t status = sessions_.control(handle, name, properties, control_code, &stopped);
    if (status == error_success && control_code == sdk::event_trace_control_flush) {
        const std::shared_ptr<session_state> flushed =
            handle != 0 ? sessions_.find_by_handle(handle) : sessions_.find(name == nullptr ? u"" : name);
        if (flushed && !flushed->held)
            consumers_.flush(*flushed);
    }
    if (stopped) {
        // What a hold kept was in the session's buffers all along; then the
        // rundown of the processes still running.
        while (!stopped->kept.empty()) {
            consumers_.write_into(*stopped, stopped->kept.front().view());
            stopped->kept.pop_front();
        }
        stopped->held = false;
        run_down(*stopped, rundown_end_opcode, false);
        flushed_.erase(stopped.get());
        consumers_.flush_stopped(*stopped);
        consumers_.sessions_changed(); // a query changes nothing: nobody is woken for it
    }
    return status;
}

std::uint32_t simulated_tracing::enable_trace_ex2(trace_handle handle, const GUID* provider,
                                                  std::uint32_t control_code, std::uint8_t level,
                                                  std::uint64_t match_any_keyword,
                                                  std::uint64_t match_all_keyword, std::uint32_t /*timeout*/,
                                                  const ENABLE_TRACE_PARAMETERS* parameters) {
    const std::lock_guard lock(mutex_);
    const std::uint32_t status = sessions_.enable(handle, provider, control_code, level, match_any_keyword,
                                                  match_all_keyword, parameters);
    consumers_.sessions_changed();
    return status;
}

std::uint32_t simulated_tracing::act_outside(const outside_step& outside) {
    const std::u16string name = utf8_to_utf16(outside.session);
    switch (outside.what) {
    case outside_step::act::stop_session: {
        EVENT_TRACE_PROPERTIES properties{};
        properties.Wnode.BufferSize = sizeof properties;
        return control_trace(0, name.c_str(), &properties, sdk::event_trace_control_stop);
    }
    case outside_step::act::set_enable_flags: {
        EVENT_TRACE_PROPERTIES properties{};
        properties.Wnode.BufferSize = sizeof properties;
        properties.EnableFlags = outside.flags;
        const std::uint32_t status =
            control_trace(0, name.c_str(), &properties, sdk::event_trace_control_update);
        const std::lock_guard lock(mutex_);
        consumers_.sessions_changed();
        return status;
    }
    case outside_step::act::disable_provider:
    case outside_step::act::enable_provider:
        break;
    }
    trace_handle handle = sdk::invalid_processtrace_handle;
    {
        const std::lock_guard lock(mutex_);
        handle = sessions_.handle_of(name);
    }
    if (handle == sdk::invalid_processtrace_handle)
        return error_wmi_instance_not_found;
    const bool enable = outside.what == outside_step::act::enable_provider;
    return enable_trace_ex2(handle, &outside.provider,
                            enable ? sdk::event_control_code_enable_provider
                                   : sdk::event_control_code_disable_provider,
                            outside.level, outside.any_keywords, 0, 0, nullptr);
}

trace_handle simulated_tracing::open_trace(EVENT_TRACE_LOGFILEW* logfile) {
    const std::lock_guard lock(mutex_);
    return consumers_.open(logfile);
}

std::uint32_t simulated_tracing::process_trace(trace_handle* handles, std::uint32_t handle_count,
                                               const FILETIME* /*start_time*/, const FILETIME* /*end_time*/) {
    std::unique_lock lock(mutex_);
    return consumers_.process(handles, handle_count, lock);
}

std::uint32_t simulated_tracing::close_trace(trace_handle handle) {
    const std::lock_guard lock(mutex_);
    return consumers_.close(handle);
}

std::uint32_t simulated_tracing::tdh_get_event_information(const EVENT_RECORD* record,
                                                           std::uint32_t /*context_count*/,
                                                           const TDH_CONTEXT* /*context*/,
                                                           TRACE_EVENT_INFO* buffer,
                                                           std::uint32_t* buffer_size) {
    if (record == nullptr || buffer_size == nullptr)
        return error_invalid_parameter;
    return tdh_.get_event_information(*record, buffer, buffer_size);
}

std::uint32_t simulated_tracing::tdh_get_property_size(const EVENT_RECORD* record,
                                                       std::uint32_t /*context_count*/,
                                                       const TDH_CONTEXT* /*context*/,
                                                       std::uint32_t descriptor_count,
                                                       const PROPERTY_DATA_DESCRIPTOR* descriptors,
                                                       std::uint32_t* property_size) {
    if (record == nullptr || descriptor_count == 0 || descriptors == nullptr || property_size == nullptr)
        return error_invalid_parameter;
    return tdh_.get_property_size(*record, descriptors[0], property_size);
}

std::uint32_t simulated_tracing::enumerate_trace_guids_ex(std::uint32_t query_class, const void* in_buffer,
                                                          std::uint32_t in_size, void* out_buffer,
                                                          std::uint32_t out_size, std::uint32_t* returned) {
    if (query_class != sdk::trace_guid_query_info || in_buffer == nullptr || in_size != sizeof(GUID))
        return error_invalid_parameter;
    GUID provider{};
    std::memcpy(&provider, in_buffer, sizeof provider);
    const std::lock_guard lock(mutex_);
    return sessions_.provider_enables(provider, out_buffer, out_size, returned);
}

std::uint32_t simulated_tracing::nt_query_system_information(std::uint32_t information_class,
                                                             void* information, std::uint32_t length,
                                                             std::uint32_t* return_length) {
    const std::lock_guard lock(mutex_);
    return sessions_.query_group_masks(information_class, information, length, return_length);
}

std::uint32_t simulated_tracing::nt_set_system_information(std::uint32_t information_class, void* information,
                                                           std::uint32_t length) {
    const std::lock_guard lock(mutex_);
    const std::uint32_t status = sessions_.set_group_masks(information_class, information, length);
    consumers_.sessions_changed();
    return status;
}

std::uint64_t simulated_tracing::ver_set_condition_mask(std::uint64_t condition_mask, std::uint32_t type_mask,
                                                        std::uint8_t condition) {
    return simulated::ver_set_condition_mask(condition_mask, type_mask, condition);
}

std::int32_t simulated_tracing::verify_version_info(OSVERSIONINFOEXW* info, std::uint32_t type_mask,
                                                    std::uint64_t condition_mask) {
    if (info == nullptr)
        return 0;
    return simulated::verify_version_info(version_, *info, type_mask, condition_mask);
}

std::int64_t simulated_tracing::query_performance_counter() {
    return performance_counter_now();
}

std::int64_t simulated_tracing::query_performance_frequency() {
    return performance_frequency;
}

std::int64_t simulated_tracing::system_time() {
    // From the counter, as the machine stamps and converts: exact, not two
    // clocks read a moment apart.
    return system_time_of(performance_counter_now());
}

hresult simulated_tracing::co_create_guid(GUID* guid) {
    if (guid == nullptr)
        return e_pointer;
    std::uint64_t high = 0;
    std::uint64_t low = 0;
    {
        const std::lock_guard lock(mutex_);
        high = guid_source_();
        low = guid_source_();
    }
    // A random GUID: version 4, variant 10.
    high = (high & ~std::uint64_t{0xF000}) | 0x4000;
    low = (low & ~std::uint64_t{0xC0}) | 0x80;
    guid->Data1 = static_cast<std::uint32_t>(high >> 32);
    guid->Data2 = static_cast<std::uint16_t>(high >> 16);
    guid->Data3 = static_cast<std::uint16_t>(high);
    for (int i = 0; i < 8; ++i)
        guid->Data4[i] = static_cast<std::uint8_t>(low >> (8 * i));
    return 0;
}

hresult simulated_tracing::string_from_clsid(const GUID& clsid, std::u16string& text) {
    text = clsid_text(clsid);
    return 0;
}

hresult simulated_tracing::co_initialize_ex(void* reserved, std::uint32_t co_init) {
    return providers_.co_initialize_ex(reserved, co_init);
}

void simulated_tracing::co_uninitialize() {
    providers_.co_uninitialize();
}

hresult simulated_tracing::co_create_instance(const GUID& clsid, void* outer, std::uint32_t class_context,
                                              const GUID& iid, void** object) {
    return providers_.co_create_instance(clsid, outer, class_context, iid, object);
}

hresult simulated_tracing::get_trace_data_providers(void* collection, const char16_t* server) {
    return providers_.get_trace_data_providers(collection, server);
}

hresult simulated_tracing::get_count(void* collection, std::int32_t* count) {
    return providers_.get_count(collection, count);
}

hresult simulated_tracing::get_item(void* collection, std::uint32_t index, void** provider) {
    return providers_.get_item(collection, index, provider);
}

hresult simulated_tracing::get_display_name(void* provider, std::optional<std::u16string>& display_name) {
    return providers_.get_display_name(provider, display_name);
}

hresult simulated_tracing::get_guid(void* provider, GUID* guid) {
    return providers_.get_guid(provider, guid);
}

std::uint32_t simulated_tracing::release(void* object) {
    return providers_.release(object);
}

} // namespace tallowick::platform::simulated
