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
#include <cstdio>
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
    for (const auto& [guid, settings] : merge_providers(providers_))
        enable_provider(guid, settings);
}

void manifest_trace::enable_provider(const GUID& guid, const merged_settings& settings) {
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

namespace {
// Whether what the session has enabled lets through every event our settings
// ask for: level 0 and any-keywords 0 take everything, and an all-keywords
// mask may ask no more than ours does.
bool covers(const provider_enable& enabled, const merged_settings& ours) {
    const bool level = enabled.level == 0 || (ours.level != 0 && enabled.level >= ours.level);
    const bool any =
        enabled.any_keywords == 0 ||
        (ours.any_keywords != 0 && (enabled.any_keywords & ours.any_keywords) == ours.any_keywords);
    const bool all = (enabled.all_keywords & ~ours.all_keywords) == 0;
    return level && any && all;
}

std::string hex_text(std::uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
    return text;
}
} // namespace

std::vector<session_tampering> manifest_trace::tampering(const EVENT_TRACE_PROPERTIES& queried) {
    const auto logger_id = static_cast<std::uint16_t>(queried.Wnode.HistoricalContext & 0xFFFF);
    std::vector<session_tampering> found;
    for (const auto& [guid, settings] : merge_providers(providers_)) {
        const session_enable_query seen = query_session_enable(guid, logger_id);
        if (seen.unknown)
            continue; // the platform cannot say: nothing to go by
        if (!seen.enable) {
            found.push_back({session_tampering::kind::provider_disabled, guid, "is no longer enabled"});
        } else if (!covers(*seen.enable, settings)) {
            found.push_back({session_tampering::kind::provider_narrowed, guid,
                             "was narrowed to level " + std::to_string(seen.enable->level) + ", keywords " +
                                 hex_text(seen.enable->any_keywords) + " (ours: level " +
                                 std::to_string(settings.level) + ", keywords " +
                                 hex_text(settings.any_keywords) + ")"});
        }
    }
    return found;
}

void manifest_trace::undo(const session_tampering& found) {
    const merged_providers merged = merge_providers(providers_);
    const auto ours = merged.find(found.provider);
    if (ours != merged.end())
        enable_provider(ours->first, ours->second);
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
