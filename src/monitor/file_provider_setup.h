#pragma once

#include "decoding/record_filter.h"
#include "decoding/trace_context.h"
#include "monitor/event_scope.h"
#include "monitor/message_sink.h"
#include "platform/sdk/etw_types.h"
#include "trace/provider.h"

#include <cstdint>

namespace tallowick::pool {
class thread_pool;
}

namespace tallowick::monitor {

class process_tracker;
class pending_attribution;

// Configures the Microsoft-Windows-Kernel-File provider before its session
// starts: the keywords and events the platform delivers, the name tests that
// drop noise on the session thread, and the callback that queues the file
// tasks. The pool, the scope, the sink and the process tracker are kept by
// reference and must outlive the session; the scope and the sink, the pool too.
// `pending`: where a record whose process the tracker cannot name yet waits
// (none: it is named at once, by a live look-up if need be).
void setup_filekernel_provider(etw::provider<std::uint64_t>& provider, pool::thread_pool& pool,
                               const event_scope& scope, message_sink& sink, process_tracker& tracker,
                               pending_attribution* pending = nullptr);

// The filter's predicate: version 1, then fourteen tests on FileName, each of
// which drops the record when it holds (system, profile and driver locations,
// libraries, names ending in a backslash).
etw::event_predicate file_event_predicate();

// Reads the few properties the file tasks need from a record that passed the
// predicate and queues one task, with the process as the tracker knows it at
// the record's time; records of processes 0 to 9 are skipped. A record that
// cannot be read is dropped with a "FILESYSTEM HANDLER CAUGHT ERROR: " line.
void file_event_callback(const EVENT_RECORD& record, const etw::trace_context& context,
                         pool::thread_pool& pool, const event_scope& scope, message_sink& sink,
                         process_tracker& tracker, pending_attribution* pending = nullptr);

} // namespace tallowick::monitor
