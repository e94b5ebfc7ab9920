#pragma once

#include "platform/guid.h"
#include "platform/sdk/etw_types.h"
#include "platform/simulated/realtime_buffers.h"

#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace tallowick::platform::simulated {

// An event-id filter given when a provider was enabled.
struct event_id_filter {
    bool filter_in = true; // true: only these ids pass; false: these ids are dropped
    std::set<std::uint16_t> ids;
};

// What one EnableTraceEx2 switched on for a provider in a session.
struct enabled_provider {
    std::uint8_t level = 0;
    std::uint64_t match_any_keyword = 0;
    std::uint64_t match_all_keyword = 0;
    std::optional<event_id_filter> event_ids;
};

// A record kept by the machine past the step that made it (a held session's),
// its payload its own.
struct kept_record {
    EVENT_RECORD record{};
    std::vector<std::byte> payload;

    explicit kept_record(const EVENT_RECORD& source);
    kept_record(const kept_record&) = delete;
    kept_record& operator=(const kept_record&) = delete;
    kept_record(kept_record&&) noexcept = default;
    kept_record& operator=(kept_record&&) noexcept = default;
    // The record, its UserData pointing at the payload kept here.
    const EVENT_RECORD& view();
};

// One trace session of the machine, created by StartTraceW or left running from
// before, with what has been switched on in it.
struct session_state {
    std::u16string name;
    TRACEHANDLE controller = sdk::invalid_processtrace_handle; // invalid for a leftover session
    std::uint16_t logger_id = 0; // the low 16 bits of the session's handle on Windows
    bool leftover = false;
    std::uint32_t stop_status = 0; // what a stop of a leftover session answers
    bool kernel_logger = false;
    // The kernel group masks; word 0 holds the EnableFlags given at creation.
    std::array<std::uint32_t, 8> group_masks{};
    std::map<GUID, enabled_provider, guid_less> providers;
    bool stopped = false;
    // The buffer pool sized by the properties it was created with (a leftover
    // session gets Windows' defaults); records go through it in real-time delivery.
    std::unique_ptr<realtime_buffers> buffers;
    std::uint32_t log_file_mode = 0;
    // From a hold step to its release: the records handed to it, in order.
    bool held = false;
    std::deque<kept_record> kept;
    // Windows converts a session's performance-counter stamps to system time
    // from the session's own start: stamp + clock_base.
    std::int64_t clock_base = 0;
    std::int64_t started_at = 0; // system time of its start (FILETIME)
    // Buffers written before any consumer opened the session (its rundown),
    // handed to the first that does.
    std::vector<std::shared_ptr<trace_buffer>> unclaimed;

    // A kernel logger that enumerates processes at its start and stop.
    bool runs_down_processes() const {
        return kernel_logger && (group_masks[0] & sdk::event_trace_flag_process) != 0;
    }

    // Whether the session takes the record, as Windows decides: kernel process
    // records go to a kernel logger with the process flag; a manifest provider's
    // record to a session that enabled the provider and whose event-id filter,
    // level and keywords let it through.
    bool takes(const EVENT_RECORD& record) const;
    // Whether a provider writes the record for this session at all: its level
    // and keywords pass, as where Windows generates events; an event-id filter
    // drops it only after that, at its cost.
    bool generates(const EVENT_RECORD& record) const;
};

} // namespace tallowick::platform::simulated
