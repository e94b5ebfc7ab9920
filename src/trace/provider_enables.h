#pragma once
// Which trace sessions a provider is enabled in, as EnumerateTraceGuidsEx tells.

#include "platform/sdk/etw_types.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace etw {

// One session's enabling of a provider, as a TRACE_ENABLE_INFO tells it.
struct provider_enable {
    std::uint16_t logger_id = 0;
    std::uint8_t level = 0;
    std::uint64_t any_keywords = 0;
    std::uint64_t all_keywords = 0;
};

// The enabled entries of the answer of EnumerateTraceGuidsEx
// (TraceGuidQueryInfo). Reads nothing past the answer: a malformed instance
// ends the walk.
std::vector<provider_enable> provider_enables_in(std::span<const std::byte> answer);

// The logger ids of the sessions that the answer of EnumerateTraceGuidsEx
// (TraceGuidQueryInfo) shows as enabling the provider. Reads nothing past the
// answer: a malformed instance ends the walk.
std::vector<std::uint16_t> enabling_loggers(std::span<const std::byte> answer);

// Whether the session of `logger_id` has `provider` enabled; false also when
// the platform cannot say.
bool session_enables_provider(const GUID& provider, std::uint16_t logger_id);

// How the session of `logger_id` has `provider` enabled: nothing when it has
// not; `unknown` set when the platform cannot say.
struct session_enable_query {
    bool unknown = false;
    std::optional<provider_enable> enable;
};
session_enable_query query_session_enable(const GUID& provider, std::uint16_t logger_id);

} // namespace etw
