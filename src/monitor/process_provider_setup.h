#pragma once

#include "decoding/trace_context.h"
#include "platform/sdk/etw_types.h"
#include "trace/kernel_provider.h"

#include <string>
#include <vector>

namespace tallowick {

class thread_pool;

// Configures the kernel process provider before its session starts: process
// starts and ends (opcodes 1 and 2) reach the callback, which queues
// handle_process_event. The pool and the list are kept by reference and must
// outlive the session.
void setup_kernel_process_provider(etw::kernel::process_provider& provider, thread_pool& pool,
                                   const std::vector<std::string>& excluded_processes);

// Reads a process start or end record and queues its task with a copy of the
// excluded processes; processes 0 to 9 are skipped before anything else is
// read. A record that cannot be read is dropped with a "WINDOWS KERNEL PROCESS
// HANDLER CAUGHT ERROR: " line.
void process_event_callback(const EVENT_RECORD& record, const etw::trace_context& context, thread_pool& pool,
                            const std::vector<std::string>& excluded_processes);

} // namespace tallowick
