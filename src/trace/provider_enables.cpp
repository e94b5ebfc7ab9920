#include "trace/provider_enables.h"

#include "platform/tracing_api.h"
#include "platform/windows_facts.h"

#include <algorithm>
#include <cstring>

namespace etw {
namespace sdk = tallowick::platform::sdk;
namespace platform = tallowick::platform;

namespace {
std::uint32_t read_u32(std::span<const std::byte> bytes, std::size_t offset) {
    std::uint32_t value = 0;
    std::memcpy(&value, bytes.data() + offset, sizeof value);
    return value;
}
} // namespace

std::vector<provider_enable> provider_enables_in(std::span<const std::byte> answer) {
    std::vector<provider_enable> enables;
    if (answer.size() < sdk::trace_guid_info_size)
        return enables;
    const std::uint32_t instances = read_u32(answer, 0);
    std::size_t at = sdk::trace_guid_info_size;
    for (std::uint32_t instance = 0; instance < instances; ++instance) {
        if (answer.size() - at < sdk::trace_provider_instance_info_size)
            break;
        const std::uint32_t next = read_u32(answer, at);
        const std::uint32_t count = read_u32(answer, at + 4);
        const std::size_t first = at + sdk::trace_provider_instance_info_size;
        const std::size_t room = (answer.size() - first) / sdk::trace_enable_info_size;
        for (std::size_t i = 0; i < std::min<std::size_t>(count, room); ++i) {
            const std::size_t entry = first + i * sdk::trace_enable_info_size;
            if (read_u32(answer, entry) == 0) // IsEnabled
                continue;
            provider_enable enable;
            std::memcpy(&enable.logger_id, answer.data() + entry + sdk::trace_enable_info_logger_id_offset,
                        sizeof enable.logger_id);
            std::memcpy(&enable.level, answer.data() + entry + 4, sizeof enable.level);
            std::memcpy(&enable.any_keywords, answer.data() + entry + 16, sizeof enable.any_keywords);
            std::memcpy(&enable.all_keywords, answer.data() + entry + 24, sizeof enable.all_keywords);
            enables.push_back(enable);
        }
        // NextOffset counts from this instance; 0 ends the list.
        if (next == 0 || next > answer.size() - at)
            break;
        at += next;
    }
    return enables;
}

std::vector<std::uint16_t> enabling_loggers(std::span<const std::byte> answer) {
    std::vector<std::uint16_t> loggers;
    for (const provider_enable& enable : provider_enables_in(answer))
        loggers.push_back(enable.logger_id);
    return loggers;
}

session_enable_query query_session_enable(const GUID& provider, std::uint16_t logger_id) {
    auto& tracing = tallowick::platform::current_tracing();
    std::vector<std::byte> answer;
    std::uint32_t needed = 0;
    std::uint32_t status = tracing.enumerate_trace_guids_ex(sdk::trace_guid_query_info, &provider,
                                                            sizeof provider, nullptr, 0, &needed);
    // Sessions may enable it between the two calls: ask again while it grows.
    for (int attempt = 0; attempt < 4 && status == platform::error_insufficient_buffer; ++attempt) {
        answer.resize(needed);
        status = tracing.enumerate_trace_guids_ex(sdk::trace_guid_query_info, &provider, sizeof provider,
                                                  answer.data(), static_cast<std::uint32_t>(answer.size()),
                                                  &needed);
    }
    // A provider no session enables, or none registered: no instance to tell of.
    if (status == platform::error_not_found)
        return {};
    if (status != platform::error_success)
        return {true, std::nullopt};
    answer.resize(std::min<std::size_t>(answer.size(), needed));
    for (const provider_enable& enable : provider_enables_in(answer))
        if (enable.logger_id == logger_id)
            return {false, enable};
    return {};
}

bool session_enables_provider(const GUID& provider, std::uint16_t logger_id) {
    return query_session_enable(provider, logger_id).enable.has_value();
}

} // namespace etw
