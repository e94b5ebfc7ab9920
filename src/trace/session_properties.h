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

// The buffers a session asks for: sizes in KB, counts, the flush timer in
// seconds; zeros leave the choice to the platform. Per-processor buffering
// suits high event rates; without it every processor writes into one buffer.
struct session_buffers {
    std::uint32_t buffer_size_kb = 0;
    std::uint32_t minimum_buffers = 0;
    std::uint32_t maximum_buffers = 0;
    std::uint32_t flush_timer_s = 0;
    bool per_processor_buffering = false;
};

// What tells the blocks of the two kinds of session apart.
struct session_settings {
    GUID guid;
    std::uint32_t log_file_mode;
    std::uint32_t enable_flags;
    session_buffers buffers{};
};

// Real time, no per-processor buffering: the mode of every session that does
// not ask for per-processor buffers.
inline constexpr std::uint32_t session_log_file_mode =
    tallowick::platform::sdk::event_trace_real_time_mode |
    tallowick::platform::sdk::event_trace_no_per_processor_buffering;

// The real-time mode for sessions with these buffers.
constexpr std::uint32_t log_file_mode_for(const session_buffers& buffers) {
    return buffers.per_processor_buffering ? tallowick::platform::sdk::event_trace_real_time_mode
                                           : session_log_file_mode;
}

// A zeroed block for `name` (at most session_name_capacity characters) with the
// fields the platform reads, buffer sizes and counts as the settings ask.
session_properties fill_properties(std::u16string_view name, const session_settings& settings);

} // namespace etw
