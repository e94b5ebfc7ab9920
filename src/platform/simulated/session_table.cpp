#include "platform/simulated/session_table.h"

#include "platform/guid.h"
#include "platform/simulated/machine_clock.h"
#include "platform/utf_codec.h"
#include "platform/windows_facts.h"

#include <cstddef>
#include <cstring>

namespace tallowick::platform::simulated {
namespace {

constexpr std::uint32_t max_event_filters = 13;
constexpr std::uint32_t max_event_filter_event_ids = 64;

// NTSTATUS values of the group-mask exchange.
constexpr std::uint32_t status_success = 0;
constexpr std::uint32_t status_invalid_info_class = 0xC0000003;
constexpr std::uint32_t status_info_length_mismatch = 0xC0000004;
constexpr std::uint32_t status_invalid_parameter = 0xC000000D;
constexpr std::uint32_t status_wmi_instance_not_found = 0xC0000295;
constexpr std::uint32_t event_trace_group_mask_information = 1;
constexpr std::size_t group_mask_block_size = 48;
constexpr std::size_t group_mask_handle_offset = 8;
constexpr std::size_t group_mask_words_offset = 16;

constexpr std::u16string_view kernel_logger_name = u"NT Kernel Logger";

// Windows compares session names without regard to ASCII case.
std::u16string folded(std::u16string_view name) {
    std::u16string result(name);
    for (char16_t& unit : result)
        if (unit >= u'A' && unit <= u'Z')
            unit = static_cast<char16_t>(unit - u'A' + u'a');
    return result;
}

std::u16string_view view_of(const char16_t* name) {
    return name == nullptr ? std::u16string_view() : std::u16string_view(name);
}

// The platform writes the session name, with its terminator, back into the
// block at LoggerNameOffset; a block that names an offset without room for it
// is refused.
bool has_room_for_name(const EVENT_TRACE_PROPERTIES& properties, std::u16string_view name) {
    const std::size_t offset = properties.LoggerNameOffset;
    const std::size_t bytes = (name.size() + 1) * sizeof(char16_t);
    return offset < sizeof(EVENT_TRACE_PROPERTIES) || offset + bytes <= properties.Wnode.BufferSize;
}

// Where has_room_for_name holds.
void write_back_name(EVENT_TRACE_PROPERTIES& properties, std::u16string_view name) {
    const std::size_t offset = properties.LoggerNameOffset;
    if (offset < sizeof(EVENT_TRACE_PROPERTIES))
        return;
    auto* block = reinterpret_cast<std::byte*>(&properties);
    std::memcpy(block + offset, name.data(), name.size() * sizeof(char16_t));
    std::memset(block + offset + name.size() * sizeof(char16_t), 0, sizeof(char16_t));
}

// Reads the event-id filters among the parameters' descriptors; false when one
// is malformed.
bool read_event_id_filter(const ENABLE_TRACE_PARAMETERS& parameters, std::optional<event_id_filter>& filter) {
    if (parameters.FilterDescCount > max_event_filters ||
        (parameters.FilterDescCount > 0 && parameters.EnableFilterDesc == nullptr))
        return false;
    for (std::uint32_t i = 0; i < parameters.FilterDescCount; ++i) {
        const EVENT_FILTER_DESCRIPTOR& descriptor = parameters.EnableFilterDesc[i];
        if (descriptor.Type != sdk::event_filter_type_event_id)
            continue; // other kinds of filter are not simulated
        const auto* data = reinterpret_cast<const std::byte*>(static_cast<std::uintptr_t>(descriptor.Ptr));
        if (filter || data == nullptr || descriptor.Size < 4)
            return false;
        std::uint16_t count = 0;
        std::memcpy(&count, data + 2, sizeof count);
        if (count == 0 || count > max_event_filter_event_ids || descriptor.Size < 4u + 2u * count)
            return false;
        event_id_filter read;
        read.filter_in = std::to_integer<std::uint8_t>(data[0]) != 0;
        for (std::uint16_t k = 0; k < count; ++k) {
            std::uint16_t id = 0;
            std::memcpy(&id, data + 4 + 2 * k, sizeof id);
            read.ids.insert(id);
        }
        filter = std::move(read);
    }
    return true;
}

// What a query (or the final statistics of a stop) writes into the block.
void report_statistics(const session_state& session, EVENT_TRACE_PROPERTIES& properties) {
    const buffer_settings& settings = session.buffers->settings();
    const buffer_statistics statistics = session.buffers->statistics();
    properties.BufferSize = settings.buffer_size_kb;
    properties.MinimumBuffers = settings.minimum_buffers;
    properties.MaximumBuffers = settings.maximum_buffers;
    properties.FlushTimer = settings.flush_timer_s;
    properties.LogFileMode = session.log_file_mode;
    properties.EnableFlags = session.kernel_logger ? session.group_masks[0] : 0;
    // The session's handle, its logger id in the low 16 bits.
    properties.Wnode.HistoricalContext = session.logger_id;
    properties.NumberOfBuffers = statistics.number_of_buffers;
    properties.FreeBuffers = statistics.free_buffers;
    properties.EventsLost = statistics.events_lost;
    properties.BuffersWritten = statistics.buffers_written;
    properties.LogBuffersLost = 0;
    properties.RealTimeBuffersLost = statistics.realtime_buffers_lost;
    write_back_name(properties, session.name);
}

} // namespace

session_table::session_table(const machine_config& machine)
    : admin_(machine.admin), windows8_or_later_(!machine.older_than_windows8()),
      event_id_filters_(!machine.older_than_windows8_1()), session_limit_(machine.trace_session_limit),
      processors_(machine.processors) {
    for (const running_session& running : machine.running_sessions) {
        auto session = std::make_shared<session_state>();
        session->buffers = std::make_unique<realtime_buffers>(buffer_settings::of({}, processors_));
        session->name = utf8_to_utf16(running.name);
        session->leftover = true;
        // Started earlier, its conversion base taken then.
        session->clock_base = counter_base() + std::int64_t{running.clock_ahead_ms} * 10'000;
        session->started_at = filetime_now();
        session->stop_status = running.stop_status;
        session->logger_id = next_logger_id_++;
        if (running.enable_flags != 0) {
            session->kernel_logger = true;
            session->group_masks[0] = running.enable_flags;
        }
        for (const GUID& provider : running.providers)
            session->providers.insert_or_assign(provider, enabled_provider{});
        sessions_.emplace(folded(session->name), std::move(session));
    }
}

std::uint32_t session_table::start(TRACEHANDLE* handle, const char16_t* name,
                                   EVENT_TRACE_PROPERTIES* properties) {
    if (handle == nullptr || name == nullptr || properties == nullptr)
        return error_invalid_parameter;
    if (properties->Wnode.BufferSize < sizeof(EVENT_TRACE_PROPERTIES))
        return error_bad_length;
    if (!admin_)
        return error_access_denied;

    const std::u16string_view given = name;
    const bool kernel_name = folded(given) == folded(kernel_logger_name);
    const bool kernel_guid = same_guid(properties->Wnode.Guid, system_trace_control_guid);
    const bool system_logger_mode = (properties->LogFileMode & sdk::event_trace_system_logger_mode) != 0;
    const bool real_time = (properties->LogFileMode & sdk::event_trace_real_time_mode) != 0;
    if (given.empty() || (kernel_guid && !kernel_name) || (system_logger_mode && !windows8_or_later_) ||
        (!real_time && properties->LogFileNameOffset == 0))
        return error_invalid_parameter;
    if (!has_room_for_name(*properties, given))
        return error_bad_length;

    const std::u16string key = folded(given);
    if (sessions_.count(key) != 0)
        return error_already_exists;
    if (sessions_.size() >= session_limit_)
        return error_no_system_resources;

    auto session = std::make_shared<session_state>();
    session->name = std::u16string(given);
    session->controller = next_handle_++;
    session->logger_id = next_logger_id_++;
    session->kernel_logger = kernel_name || system_logger_mode;
    session->log_file_mode = properties->LogFileMode;
    session->started_at = filetime_now();
    session->clock_base = counter_base();
    session->buffers = std::make_unique<realtime_buffers>(buffer_settings::of(*properties, processors_));
    if (session->kernel_logger)
        session->group_masks[0] = properties->EnableFlags;
    *handle = session->controller;
    write_back_name(*properties, given);
    sessions_.emplace(key, std::move(session));
    return error_success;
}

std::uint32_t session_table::control(TRACEHANDLE handle, const char16_t* name,
                                     EVENT_TRACE_PROPERTIES* properties, std::uint32_t control_code,
                                     std::shared_ptr<session_state>* stopped) {
    if (handle == 0 && view_of(name).empty())
        return error_invalid_parameter;
    const std::shared_ptr<session_state> session = handle != 0 ? find_by_handle(handle) : find(view_of(name));
    if (control_code != sdk::event_trace_control_query && control_code != sdk::event_trace_control_stop &&
        control_code != sdk::event_trace_control_update && control_code != sdk::event_trace_control_flush)
        return error_not_supported;
    if (!session)
        return error_wmi_instance_not_found;
    if (control_code == sdk::event_trace_control_flush)
        return error_success;
    // 234 (more data) reports a stop that has been done all the same, 1230 and
    // 2402 one already under way.
    const bool refused = control_code == sdk::event_trace_control_stop && session->leftover &&
                         session->stop_status != error_success && session->stop_status != error_more_data &&
                         session->stop_status != error_connection_active &&
                         session->stop_status != error_active_connections;
    if (refused)
        return session->stop_status;
    if (control_code == sdk::event_trace_control_update) {
        if (properties == nullptr || properties->Wnode.BufferSize < sizeof(EVENT_TRACE_PROPERTIES))
            return error_invalid_parameter;
        if (session->kernel_logger)
            session->group_masks[0] = properties->EnableFlags;
    }
    if (properties != nullptr) {
        if (properties->Wnode.BufferSize < sizeof(EVENT_TRACE_PROPERTIES))
            return error_bad_length;
        report_statistics(*session, *properties);
    }
    if (control_code == sdk::event_trace_control_query || control_code == sdk::event_trace_control_update)
        return error_success;

    session->stopped = true;
    sessions_.erase(folded(session->name));
    if (stopped != nullptr)
        *stopped = session;
    return session->leftover ? session->stop_status : error_success;
}

std::uint32_t session_table::enable(TRACEHANDLE handle, const GUID* provider, std::uint32_t control_code,
                                    std::uint8_t level, std::uint64_t match_any_keyword,
                                    std::uint64_t match_all_keyword,
                                    const ENABLE_TRACE_PARAMETERS* parameters) {
    const std::shared_ptr<session_state> session = find_by_handle(handle);
    if (!session || provider == nullptr)
        return error_invalid_parameter;
    switch (control_code) {
    case sdk::event_control_code_disable_provider:
        session->providers.erase(*provider);
        return error_success;
    case sdk::event_control_code_capture_state:
        return error_success; // the providers simulated here have no state to replay
    case sdk::event_control_code_enable_provider:
        break;
    default:
        return error_invalid_parameter;
    }

    enabled_provider enabled{level, match_any_keyword, match_all_keyword, std::nullopt};
    if (parameters != nullptr) {
        if (parameters->Version != sdk::enable_trace_parameters_version_2)
            return error_invalid_parameter;
        if (!read_event_id_filter(*parameters, enabled.event_ids))
            return error_invalid_parameter;
        // A filter type the system does not know yet is refused.
        if (enabled.event_ids && !event_id_filters_)
            return error_invalid_parameter;
    }
    session->providers.insert_or_assign(*provider, std::move(enabled));
    return error_success;
}

std::uint32_t session_table::group_mask_session(std::uint32_t information_class, const void* information,
                                                std::uint32_t length,
                                                std::shared_ptr<session_state>& session) const {
    if (information_class != sdk::system_performance_trace_information)
        return status_invalid_info_class;
    if (information == nullptr || length < group_mask_block_size)
        return status_info_length_mismatch;
    const auto* block = static_cast<const std::byte*>(information);
    std::uint32_t kind = 0;
    std::memcpy(&kind, block, sizeof kind);
    if (kind != event_trace_group_mask_information)
        return status_invalid_parameter;
    TRACEHANDLE handle = 0;
    std::memcpy(&handle, block + group_mask_handle_offset, sizeof handle);
    session = find_by_handle(handle);
    if (!session)
        return status_wmi_instance_not_found;
    if (!session->kernel_logger)
        return status_invalid_parameter; // only kernel loggers have group masks
    return status_success;
}

std::uint32_t session_table::query_group_masks(std::uint32_t information_class, void* information,
                                               std::uint32_t length, std::uint32_t* return_length) const {
    std::shared_ptr<session_state> session;
    const std::uint32_t status = group_mask_session(information_class, information, length, session);
    if (status != status_success)
        return status;
    std::memcpy(static_cast<std::byte*>(information) + group_mask_words_offset, session->group_masks.data(),
                sizeof session->group_masks);
    if (return_length != nullptr)
        *return_length = group_mask_block_size;
    return status_success;
}

std::uint32_t session_table::set_group_masks(std::uint32_t information_class, const void* information,
                                             std::uint32_t length) {
    std::shared_ptr<session_state> session;
    const std::uint32_t status = group_mask_session(information_class, information, length, session);
    if (status != status_success)
        return status;
    std::memcpy(session->group_masks.data(),
                static_cast<const std::byte*>(information) + group_mask_words_offset,
                sizeof session->group_masks);
    return status_success;
}

std::uint32_t session_table::provider_enables(const GUID& provider, void* out, std::uint32_t out_size,
                                              std::uint32_t* returned) const {
    // TRACE_GUID_INFO, one TRACE_PROVIDER_INSTANCE_INFO, then a TRACE_ENABLE_INFO per session.
    constexpr std::size_t guid_info_size = sdk::trace_guid_info_size;
    constexpr std::size_t instance_size = sdk::trace_provider_instance_info_size;
    constexpr std::size_t enable_size = sdk::trace_enable_info_size;
    std::vector<const session_state*> enabling;
    for (const auto& [key, session] : sessions_)
        if (session->providers.count(provider) != 0)
            enabling.push_back(session.get());
    std::vector<std::byte> answer(guid_info_size + instance_size + enable_size * enabling.size());
    const auto put = [&answer](std::size_t offset, auto value) {
        std::memcpy(answer.data() + offset, &value, sizeof value);
    };
    put(0, std::uint32_t{1});                                             // InstanceCount
    put(guid_info_size + 4, static_cast<std::uint32_t>(enabling.size())); // EnableCount
    for (std::size_t i = 0; i < enabling.size(); ++i) {
        const std::size_t at = guid_info_size + instance_size + enable_size * i;
        const enabled_provider& enabled = enabling[i]->providers.at(provider);
        put(at, std::uint32_t{1}); // IsEnabled
        put(at + 4, enabled.level);
        put(at + sdk::trace_enable_info_logger_id_offset, enabling[i]->logger_id);
        put(at + 16, enabled.match_any_keyword);
        put(at + 24, enabled.match_all_keyword);
    }
    if (returned != nullptr)
        *returned = static_cast<std::uint32_t>(answer.size());
    if (out == nullptr || out_size < answer.size())
        return error_insufficient_buffer;
    std::memcpy(out, answer.data(), answer.size());
    return error_success;
}

TRACEHANDLE session_table::handle_of(std::u16string_view name) const {
    const std::shared_ptr<session_state> session = find(name);
    return session ? session->controller : sdk::invalid_processtrace_handle;
}

std::shared_ptr<session_state> session_table::find(std::u16string_view name) const {
    const auto found = sessions_.find(folded(name));
    return found == sessions_.end() ? nullptr : found->second;
}

std::shared_ptr<session_state> session_table::find_by_handle(TRACEHANDLE controller) const {
    if (controller == sdk::invalid_processtrace_handle)
        return nullptr;
    for (const auto& [key, session] : sessions_)
        if (session->controller == controller)
            return session;
    return nullptr;
}

std::vector<std::shared_ptr<session_state>> session_table::takers(const EVENT_RECORD& record) const {
    std::vector<std::shared_ptr<session_state>> result;
    for (const auto& [key, session] : sessions_)
        if (session->takes(record))
            result.push_back(session);
    return result;
}

} // namespace tallowick::platform::simulated
