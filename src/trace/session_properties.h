#pragma once

#include "platform/sdk/etw_types.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace etw {

// Characters in each of the block's two name areas; a session name may use them all.
inline constexpr std::size_t session_name_capacity = 260;

// The properties block of every control call: the structure, then two zeroed name
// areas. The name goes into the first; LoggerNameOffset names the second, where the
// platform may write the name back.
struct session_properties {
    EVENT_TRACE_PROPERTIES properties;
    tallowick::platform::sdk::wide_char name_areas[2][session_name_capacity];

    EVENT_TRACE_PROPERTIES* get() { return &properties; }
};
static_assert(sizeof(session_properties) == 1160);
static_assert(offsetof(session_properties, name_areas) == 120);

// What tells the blocks of the two kinds of session apart.
struct session_settings {
    GUID guid;
    std::uint32_t log_file_mode;
    std::uint32_t enable_flags;
};

// Real time, no per-processor buffering: the mode of every session.
inline constexpr std::uint32_t session_log_file_mode =
    tallowick::platform::sdk::event_trace_real_time_mode |
    tallowick::platform::sdk::event_trace_no_per_processor_buffering;

// A zeroed block for `name` (at most session_name_capacity characters) with the
// fields the platform reads; buffer sizes and counts are left to the platform.
session_properties fill_properties(std::u16string_view name, const session_settings& settings);

} // namespace etw
