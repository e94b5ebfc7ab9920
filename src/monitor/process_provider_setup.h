#pragma once

#include "decoding/trace_context.h"
#include "monitor/event_scope.h"
#include "monitor/message_sink.h"
#include "platform/sdk/etw_types.h"
#include "trace/kernel_provider.h"

namespace tallowick::pool {
class thread_pool;
}

namespace tallowick::monitor {

class process_tracker;
class pending_attribution;

// Configures the kernel process provider before its session starts: process
// starts and ends (opcodes 1 and 2) reach the callback, which queues
// handle_process_event, and tell the process tracker of each life. The pool,
// the scope, the sink and the tracker are kept by reference and must outlive
// the session; the scope and the sink, the pool too.
// `pending`: told of the kernel session's progress, for the file records that
// wait for it.
void setup_kernel_process_provider(etw::kernel::process_provider& provider, pool::thread_pool& pool,
                                   const event_scope& scope, message_sink& sink, process_tracker& tracker,
                                   pending_attribution* pending = nullptr);

// Reads a process start or end record and queues its task with references to
// the scope and the sink; processes 0 to 9 are skipped before anything else is
// read. Before the task is queued, the tracker learns the start or end, here on
// the session thread, so that it knows of it before any later record is
// handled. A record that cannot be read is dropped with a "WINDOWS KERNEL
// PROCESS HANDLER CAUGHT ERROR: " line.
void process_event_callback(const EVENT_RECORD& record, const etw::trace_context& context,
                            pool::thread_pool& pool, const event_scope& scope, message_sink& sink,
                            process_tracker& tracker, pending_attribution* pending = nullptr);

} // namespace tallowick::monitor
