#pragma once
// Which trace sessions a provider is enabled in, as EnumerateTraceGuidsEx tells.

#include "platform/sdk/etw_types.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace etw {

// The logger ids of the sessions that the answer of EnumerateTraceGuidsEx
// (TraceGuidQueryInfo) shows as enabling the provider. Reads nothing past the
// answer: a malformed instance ends the walk.
std::vector<std::uint16_t> enabling_loggers(std::span<const std::byte> answer);

// Whether the session of `logger_id` has `provider` enabled; false also when
// the platform cannot say.
bool session_enables_provider(const GUID& provider, std::uint16_t logger_id);

} // namespace etw
