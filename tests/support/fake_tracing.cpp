#include "support/fake_tracing.h"

#include "platform/simulated/guids.h"
#include "platform/windows_facts.h"

#include <algorithm>
#include <cstring>

namespace tallowick::testing {
namespace {

using platform::e_invalidarg;
using platform::e_pointer;

std::u16string text_at(const char16_t* text) {
    return text == nullptr ? std::u16string() : std::u16string(text);
}

std::vector<std::byte> copy_bytes(const void* data, std::size_t size) {
    const auto* bytes = static_cast<const std::byte*>(data);
    return data == nullptr ? std::vector<std::byte>() : std::vector<std::byte>(bytes, bytes + size);
}

std::vector<std::byte> copy_properties(const EVENT_TRACE_PROPERTIES* properties) {
    if (properties == nullptr)
        return {};
    return copy_bytes(properties, std::max<std::size_t>(properties->Wnode.BufferSize, sizeof *properties));
}

} // namespace

void fake_tracing::record(tracing_call call) {
    calls_.push_back(std::move(call));
}

std::vector<tracing_call> fake_tracing::calls() const {
    const std::lock_guard lock(mutex_);
    return calls_;
}

std::vector<std::string_view> fake_tracing::call_names() const {
    const std::lock_guard lock(mutex_);
    std::vector<std::string_view> names;
    for (const auto& call : calls_)
        names.push_back(std::visit([](const auto& c) { return std::decay_t<decltype(c)>::name; }, call));
    return names;
}

int fake_tracing::outstanding_com_objects() const {
    const std::lock_guard lock(mutex_);
    return outstanding_com_objects_;
}

bool fake_tracing::wait_until_processing(std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [this] { return waiting_processes_ > 0; });
}

void fake_tracing::session_call(std::string_view name) const {
    if (on_session_call)
        on_session_call(name);
}

void fake_tracing::end_consumer() {
    consumer_ended_ = true;
    changed_.notify_all();
}

std::uint32_t fake_tracing::deliver_and_wait(const EVENT_TRACE_LOGFILEW& logfile) {
    for (const EVENT_RECORD* delivered : delivered_records) {
        EVENT_RECORD copy = *delivered;
        copy.UserContext = logfile.Context;
        logfile.EventRecordCallback(&copy);
    }
    if (!process_until_stopped)
        return 0;
    std::unique_lock lock(mutex_);
    ++waiting_processes_;
    changed_.notify_all();
    const bool ended = changed_.wait_for(lock, std::chrono::minutes(1), [this] { return consumer_ended_; });
    --waiting_processes_;
    return ended ? 0 : platform::error_timeout;
}

std::uint32_t fake_tracing::start_trace(trace_handle* handle, const char16_t* name,
                                        EVENT_TRACE_PROPERTIES* properties) {
    session_call(start_trace_call::name);
    const std::lock_guard lock(mutex_);
    record(start_trace_call{text_at(name), copy_properties(properties)});
    const start_trace_answer answer = start_trace_answers.next();
    if (answer.status == 0 && handle != nullptr)
        *handle = answer.handle;
    return answer.status;
}

std::uint32_t fake_tracing::control_trace(trace_handle handle, const char16_t* name,
                                          EVENT_TRACE_PROPERTIES* properties, std::uint32_t control_code) {
    session_call(control_trace_call::name);
    const std::lock_guard lock(mutex_);
    record(control_trace_call{handle, text_at(name), copy_properties(properties), control_code});
    if (control_code == platform::sdk::event_trace_control_stop)
        end_consumer();
    const std::uint32_t status = control_trace_answers.next();
    if (status == 0 && properties != nullptr)
        properties->EventsLost = control_trace_events_lost;
    if (status == 0 && control_code == platform::sdk::event_trace_control_query && properties != nullptr) {
        properties->Wnode.HistoricalContext = queried_logger_id;
        properties->EnableFlags = queried_enable_flags;
    }
    return status;
}

std::uint32_t fake_tracing::enable_trace_ex2(trace_handle handle, const GUID* provider,
                                             std::uint32_t control_code, std::uint8_t level,
                                             std::uint64_t match_any_keyword, std::uint64_t match_all_keyword,
                                             std::uint32_t timeout,
                                             const ENABLE_TRACE_PARAMETERS* parameters) {
    session_call(enable_trace_call::name);
    const std::lock_guard lock(mutex_);
    enable_trace_call call{handle,
                           provider == nullptr ? GUID{} : *provider,
                           control_code,
                           level,
                           match_any_keyword,
                           match_all_keyword,
                           timeout,
                           std::nullopt,
                           {},
                           {}};
    if (parameters != nullptr) {
        call.parameters = *parameters;
        for (std::uint32_t i = 0; parameters->EnableFilterDesc != nullptr && i < parameters->FilterDescCount;
             ++i) {
            const EVENT_FILTER_DESCRIPTOR& descriptor = parameters->EnableFilterDesc[i];
            call.filter_descriptors.push_back(descriptor);
            call.filter_data.push_back(copy_bytes(
                reinterpret_cast<const void*>(static_cast<std::uintptr_t>(descriptor.Ptr)), descriptor.Size));
        }
    }
    record(std::move(call));
    return enable_trace_answers.next();
}

trace_handle fake_tracing::open_trace(EVENT_TRACE_LOGFILEW* logfile) {
    session_call(open_trace_call::name);
    const std::lock_guard lock(mutex_);
    record(open_trace_call{*logfile, text_at(reinterpret_cast<const char16_t*>(logfile->LoggerName))});
    const trace_handle handle = open_trace_answers.next();
    if (handle != platform::sdk::invalid_processtrace_handle) {
        opened_logfile_ = *logfile;
        closed_handles_.erase(handle);
        consumer_ended_ = false;
    }
    return handle;
}

std::uint32_t fake_tracing::process_trace(trace_handle* handles, std::uint32_t handle_count,
                                          const FILETIME* start_time, const FILETIME* end_time) {
    session_call(process_trace_call::name);
    std::optional<EVENT_TRACE_LOGFILEW> logfile;
    {
        const std::lock_guard lock(mutex_);
        record(process_trace_call{std::vector<trace_handle>(handles, handles + handle_count),
                                  start_time != nullptr, end_time != nullptr});
        if (handle_count > 0 && closed_handles_.count(handles[0]) > 0)
            return platform::error_invalid_handle;
        logfile = opened_logfile_;
    }
    if (!logfile)
        return 0;
    if (on_process_trace)
        return on_process_trace(*logfile);
    return deliver_and_wait(*logfile);
}

std::uint32_t fake_tracing::close_trace(trace_handle handle) {
    session_call(close_trace_call::name);
    const std::lock_guard lock(mutex_);
    record(close_trace_call{handle});
    closed_handles_.insert(handle);
    end_consumer();
    return close_trace_answers.next();
}

std::uint32_t fake_tracing::tdh_get_event_information(const EVENT_RECORD* record_pointer,
                                                      std::uint32_t context_count, const TDH_CONTEXT* context,
                                                      TRACE_EVENT_INFO* buffer, std::uint32_t* buffer_size) {
    const std::lock_guard lock(mutex_);
    record(event_information_call{record_pointer, context_count, context, buffer != nullptr, *buffer_size});
    if (!event_information_answers.empty()) {
        const tdh_answer answer = event_information_answers.front();
        event_information_answers.pop_front();
        if (buffer != nullptr && !answer.event_info.empty() && answer.event_info.size() <= *buffer_size)
            std::memcpy(buffer, answer.event_info.data(), answer.event_info.size());
        if (answer.size)
            *buffer_size = *answer.size;
        return answer.status;
    }
    return tdh.get_event_information(*record_pointer, buffer, buffer_size);
}

std::uint32_t fake_tracing::tdh_get_property_size(const EVENT_RECORD* record_pointer,
                                                  std::uint32_t context_count, const TDH_CONTEXT* context,
                                                  std::uint32_t descriptor_count,
                                                  const PROPERTY_DATA_DESCRIPTOR* descriptors,
                                                  std::uint32_t* property_size) {
    const std::lock_guard lock(mutex_);
    property_size_call call{
        record_pointer,
        context_count,
        context,
        std::vector<PROPERTY_DATA_DESCRIPTOR>(descriptors, descriptors + descriptor_count),
        {},
        *property_size};
    if (descriptor_count > 0)
        call.property_name = text_at(
            reinterpret_cast<const char16_t*>(static_cast<std::uintptr_t>(descriptors[0].PropertyName)));
    record(std::move(call));
    if (!property_size_answers.empty()) {
        const tdh_answer answer = property_size_answers.front();
        property_size_answers.pop_front();
        if (answer.size)
            *property_size = *answer.size;
        return answer.status;
    }
    if (descriptor_count != 1)
        return platform::error_invalid_parameter;
    return tdh.get_property_size(*record_pointer, descriptors[0], property_size);
}

std::uint32_t fake_tracing::enumerate_trace_guids_ex(std::uint32_t query_class, const void* in_buffer,
                                                     std::uint32_t in_size, void* out_buffer,
                                                     std::uint32_t out_size, std::uint32_t* returned) {
    namespace sdk = platform::sdk;
    const std::lock_guard lock(mutex_);
    GUID provider{};
    if (in_buffer != nullptr && in_size == sizeof provider)
        std::memcpy(&provider, in_buffer, sizeof provider);
    record(enumerate_trace_guids_call{query_class, provider});
    std::vector<std::byte> answer(sdk::trace_guid_info_size + sdk::trace_provider_instance_info_size +
                                  sdk::trace_enable_info_size * enabling_loggers.size());
    const auto put = [&answer](std::size_t offset, auto value) {
        std::memcpy(answer.data() + offset, &value, sizeof value);
    };
    put(0, std::uint32_t{1});
    put(sdk::trace_guid_info_size + 4, static_cast<std::uint32_t>(enabling_loggers.size()));
    for (std::size_t i = 0; i < enabling_loggers.size(); ++i) {
        const std::size_t at = sdk::trace_guid_info_size + sdk::trace_provider_instance_info_size +
                               sdk::trace_enable_info_size * i;
        put(at, std::uint32_t{1});
        put(at + sdk::trace_enable_info_logger_id_offset, enabling_loggers[i]);
    }
    if (returned != nullptr)
        *returned = static_cast<std::uint32_t>(answer.size());
    if (out_buffer == nullptr || out_size < answer.size())
        return platform::error_insufficient_buffer;
    std::memcpy(out_buffer, answer.data(), answer.size());
    return 0;
}

std::uint32_t fake_tracing::nt_query_system_information(std::uint32_t information_class, void* information,
                                                        std::uint32_t length, std::uint32_t* return_length) {
    const std::lock_guard lock(mutex_);
    record(query_system_information_call{information_class, copy_bytes(information, length), length,
                                         return_length != nullptr});
    const std::uint32_t status = query_system_information_answers.next();
    constexpr std::size_t masks_offset = 16;
    if (status == 0 && information != nullptr && length >= masks_offset + sizeof group_masks_in_force)
        std::memcpy(static_cast<std::byte*>(information) + masks_offset, group_masks_in_force,
                    sizeof group_masks_in_force);
    return status;
}

std::uint32_t fake_tracing::nt_set_system_information(std::uint32_t information_class, void* information,
                                                      std::uint32_t length) {
    const std::lock_guard lock(mutex_);
    record(set_system_information_call{information_class, copy_bytes(information, length), length});
    return set_system_information_answers.next();
}

std::uint64_t fake_tracing::ver_set_condition_mask(std::uint64_t condition_mask, std::uint32_t type_mask,
                                                   std::uint8_t condition) {
    const std::lock_guard lock(mutex_);
    record(ver_set_condition_mask_call{condition_mask, type_mask, condition});
    // As Windows does: three bits per condition, at the position of the type bit.
    for (unsigned bit = 0; bit < 8; ++bit) {
        if ((type_mask & (1u << bit)) != 0)
            condition_mask |= std::uint64_t{condition & 7u} << (3 * bit);
    }
    return condition_mask;
}

std::int32_t fake_tracing::verify_version_info(OSVERSIONINFOEXW* info, std::uint32_t type_mask,
                                               std::uint64_t condition_mask) {
    const std::lock_guard lock(mutex_);
    record(verify_version_info_call{*info, type_mask, condition_mask});
    return windows8_or_greater ? 1 : 0;
}

hresult fake_tracing::co_create_guid(GUID* guid) {
    const std::lock_guard lock(mutex_);
    record(co_create_guid_call{});
    if (!created_guids.empty()) {
        *guid = created_guids.front();
        created_guids.pop_front();
    } else {
        *guid = GUID{next_guid_++, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
    }
    return co_create_guid_answer;
}

hresult fake_tracing::string_from_clsid(const GUID& clsid, std::u16string& text) {
    const std::lock_guard lock(mutex_);
    record(string_from_clsid_call{clsid});
    if (string_from_clsid_answer >= 0)
        text = clsid_text(clsid);
    return string_from_clsid_answer;
}

hresult fake_tracing::co_initialize_ex(void* reserved, std::uint32_t co_init) {
    const std::lock_guard lock(mutex_);
    record(co_initialize_call{reserved, co_init});
    return co_initialize_answers.next();
}

void fake_tracing::co_uninitialize() {
    const std::lock_guard lock(mutex_);
    record(co_uninitialize_call{});
}

hresult fake_tracing::co_create_instance(const GUID& clsid, void* outer, std::uint32_t class_context,
                                         const GUID& iid, void** object) {
    const std::lock_guard lock(mutex_);
    record(co_create_instance_call{clsid, outer, class_context, iid});
    const hresult status = co_create_instance_answers.next();
    if (status >= 0) {
        *object = &collection_object_;
        ++outstanding_com_objects_;
    }
    return status;
}

hresult fake_tracing::get_trace_data_providers(void* collection, const char16_t* server) {
    const std::lock_guard lock(mutex_);
    record(get_trace_data_providers_call{
        collection, server == nullptr ? std::nullopt : std::optional<std::u16string>(server)});
    return get_trace_data_providers_answers.next();
}

hresult fake_tracing::get_count(void* collection, std::int32_t* count) {
    const std::lock_guard lock(mutex_);
    record(get_count_call{collection});
    const hresult status = get_count_answers.next();
    if (status >= 0)
        *count = count_override.value_or(static_cast<std::int32_t>(providers.size()));
    return status;
}

hresult fake_tracing::get_item(void* collection, std::uint32_t index, void** provider) {
    const std::lock_guard lock(mutex_);
    record(get_item_call{collection, index});
    const hresult status = get_item_answers.next();
    if (status < 0)
        return status;
    if (index >= providers.size())
        return e_invalidarg;
    *provider = &providers[index];
    ++outstanding_com_objects_;
    return status;
}

hresult fake_tracing::get_display_name(void* provider, std::optional<std::u16string>& display_name) {
    const std::lock_guard lock(mutex_);
    record(get_display_name_call{provider});
    const hresult status = get_display_name_answers.next();
    if (provider == nullptr)
        return e_pointer;
    if (status >= 0)
        display_name = static_cast<const fake_registered_provider*>(provider)->display_name;
    return status;
}

hresult fake_tracing::get_guid(void* provider, GUID* guid) {
    const std::lock_guard lock(mutex_);
    record(get_guid_call{provider});
    const hresult status = get_guid_answers.next();
    if (provider == nullptr)
        return e_pointer;
    if (status >= 0)
        *guid = static_cast<const fake_registered_provider*>(provider)->guid;
    return status;
}

std::uint32_t fake_tracing::release(void* object) {
    const std::lock_guard lock(mutex_);
    record(release_call{object});
    return static_cast<std::uint32_t>(--outstanding_com_objects_);
}

std::u16string clsid_text(const GUID& guid) {
    return platform::simulated::clsid_text(guid);
}

} // namespace tallowick::testing
