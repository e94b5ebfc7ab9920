#include "trace/manifest_trace.h"

#include "decoding/errors.h"
#include "platform/guid.h"
#include "platform/tracing_api.h"
#include "trace/provider_enables.h"
#include "trace/provider_merge.h"
#include "trace/record_dispatch.h"
#include "trace/session_name.h"
#include "trace/windows_version.h"

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace etw {
namespace sdk = tallowick::platform::sdk;
using tallowick::platform::create_guid;
using tallowick::platform::current_tracing;
using tallowick::platform::guid_text;

manifest_trace::manifest_trace(std::u16string name) : trace_session(session_name_or_guid(std::move(name))) {}

manifest_trace::~manifest_trace() {
    stop_quietly();
}

void manifest_trace::on_user_record(EVENT_RECORD* record) {
    auto& session = session_of<manifest_trace>(*record);
    if (session.take_loss_record(*record))
        return;
    session.restamp(*record);
    session.deliver([&] { dispatch_user_record(*record, session.providers_, session.context()); });
}

session_properties manifest_trace::fill_properties() {
    return etw::fill_properties(name(), {create_guid(), log_file_mode_for(buffers()), 0, buffers()});
}

void manifest_trace::activate_providers() {
    if (controller_handle() == sdk::invalid_processtrace_handle)
        return;
    for (const auto& [guid, settings] : merge_providers(providers_)) {
        ENABLE_TRACE_PARAMETERS parameters{};
        parameters.Version = sdk::enable_trace_parameters_version_2;
        parameters.EnableProperty = settings.enable_property;
        parameters.ControlFlags = 0;
        parameters.SourceId = guid;
        // Unwanted events are dropped by the platform, before they reach us;
        // before Windows 8.1, which has no event-id filter, by our own filter.
        std::vector<std::byte> filter;
        EVENT_FILTER_DESCRIPTOR descriptor{};
        if (!settings.event_ids.empty() && is_windows8_1_or_greater()) {
            filter = event_id_filter(settings.event_ids);
            descriptor.Ptr = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(filter.data()));
            descriptor.Size = static_cast<std::uint32_t>(filter.size());
            descriptor.Type = sdk::event_filter_type_event_id;
            parameters.EnableFilterDesc = &descriptor;
            parameters.FilterDescCount = 1;
        }
        check_status(current_tracing().enable_trace_ex2(
            controller_handle(), &guid, sdk::event_control_code_enable_provider, settings.level,
            settings.any_keywords, settings.all_keywords, 0, &parameters));
    }
}

std::optional<std::string> manifest_trace::attached_session_problem(const EVENT_TRACE_PROPERTIES& queried) {
    // A session's handle carries its logger id in its low 16 bits.
    const auto logger_id = static_cast<std::uint16_t>(queried.Wnode.HistoricalContext & 0xFFFF);
    for (const auto& [guid, settings] : merge_providers(providers_))
        if (!session_enables_provider(guid, logger_id))
            return "it does not take provider " + guid_text(guid);
    return std::nullopt;
}

void manifest_trace::request_rundown() {
    if (controller_handle() == sdk::invalid_processtrace_handle)
        return;
    // Not merged: a GUID registered twice is asked twice.
    for (const manifest_provider& registered : providers_) {
        if (registered.rundown_requested)
            check_status(current_tracing().enable_trace_ex2(controller_handle(), &registered.guid,
                                                            sdk::event_control_code_capture_state, 0, 0, 0, 0,
                                                            nullptr));
    }
}

} // namespace etw
