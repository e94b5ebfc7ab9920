#include "trace/session_properties.h"

#include "trace/session_name.h"

#include <algorithm>

namespace etw {
namespace sdk = tallowick::platform::sdk;

namespace {
// Timestamps from the query performance counter.
constexpr std::uint32_t query_performance_counter_clock = 1;
} // namespace

session_properties fill_properties(std::u16string_view name, const session_settings& settings) {
    check_session_name(name);
    session_properties block{};
    EVENT_TRACE_PROPERTIES& properties = block.properties;
    properties.Wnode.BufferSize = sizeof block;
    properties.Wnode.Guid = settings.guid;
    properties.Wnode.Flags = sdk::wnode_flag_traced_guid;
    properties.Wnode.ClientContext = query_performance_counter_clock;
    properties.BufferSize = settings.buffers.buffer_size_kb;
    properties.MinimumBuffers = settings.buffers.minimum_buffers;
    properties.MaximumBuffers = settings.buffers.maximum_buffers;
    properties.FlushTimer = settings.buffers.flush_timer_s;
    properties.LogFileMode = settings.log_file_mode;
    properties.EnableFlags = settings.enable_flags;
    properties.LoggerNameOffset = offsetof(session_properties, name_areas) + sizeof block.name_areas[0];
    // Its characters only: the zeroed area after them is the terminator.
    std::copy(name.begin(), name.end(), block.name_areas[0]);
    return block;
}

} // namespace etw
