#include "decoding/errors.h"

#include "platform/guid.h"
#include "platform/sdk/etw_types.h"
#include "platform/windows_facts.h"

#include <cstdio>

namespace etw {
namespace platform = tallowick::platform;
using tallowick::platform::guid_text;

namespace {

// Throws the class of `status`; `detail` is set only for record statuses.
[[noreturn]] void throw_for(std::uint32_t status, const std::string* detail) {
    switch (status) {
    case platform::error_access_denied:
        throw need_to_be_admin_failure();
    case platform::error_not_supported:
        throw function_not_supported();
    case platform::error_invalid_parameter:
        throw invalid_parameter();
    case platform::error_already_exists:
        throw trace_already_registered();
    case platform::error_not_found:
        if (detail != nullptr)
            throw could_not_find_schema(*detail);
        throw could_not_find_schema();
    case platform::error_no_system_resources:
        throw no_trace_sessions_remaining();
    default:
        if (detail != nullptr)
            throw unexpected_error(*detail);
        throw unexpected_error(status);
    }
}

} // namespace

unexpected_error::unexpected_error(std::uint32_t status)
    : std::runtime_error("An unexpected error occurred: status_code=" + std::to_string(status)) {}

void check_status(std::uint32_t status) {
    if (status != platform::error_success)
        throw_for(status, nullptr);
}

void check_nt_status(std::uint32_t status) {
    if (status == 0)
        return;
    char text[11];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(status));
    throw unexpected_error(std::string("status_code=") + text);
}

void check_record_status(std::uint32_t status, const EVENT_RECORD& record) {
    if (status == platform::error_success)
        return;
    const std::string detail = describe_record_status(status, record);
    throw_for(status, &detail);
}

std::string describe_record_status(std::uint32_t status, const EVENT_RECORD& record) {
    return "status_code=" + std::to_string(status) +
           " provider_id=" + guid_text(record.EventHeader.ProviderId) +
           " event_id=" + std::to_string(record.EventHeader.EventDescriptor.Id);
}

} // namespace etw
