#pragma once

#include "platform/sdk/etw_types.h"

#include <string>

namespace etw {

// What a check found changed in a running session of ours by someone else,
// without a stop: a provider switched off or narrowed (EnableTraceEx2), the
// kernel logger's enable flags cleared (ControlTrace update). No counter moves
// when this happens; records just stop coming.
struct session_tampering {
    enum class kind { provider_disabled, provider_narrowed, flags_cleared };
    kind what = kind::provider_disabled;
    GUID provider{};   // the provider kinds: which one
    std::string found; // what the check saw: "is no longer enabled", "enable flags 0x00000000 ..."
};

} // namespace etw
