#pragma once

#include "decoding/sid.h"
#include "monitor/event_scope.h"
#include "monitor/message_sink.h"

#include <optional>
#include <string>

namespace tallowick::monitor {

// Worker task for a process start (opcode 1) or end (opcode 2): leaves out a
// few command lines, the built-in and the user's excluded processes and the
// starts made by other monitoring agents; looks up the user for a start, and
// the parent's image unless `parent_image` gives it (the parent's life that
// covers the start, from the process tracker); prints a console line and hands
// a process message to `sink`.
// The exclusions read `image_path`, the full image path the process tracker
// learnt for the process, lower-cased (so the built-in entries with capitals
// never match, and the user's in any case); where no path could be learnt
// (empty, or no folder in it) the kernel's `image_file_name` stands for it.
void handle_process_event(int opcode, unsigned int process_id, const std::string& command_line,
                          const std::string& image_file_name, const std::string& image_path,
                          const etw::sid& user_sid, unsigned int parent_process_id, const event_scope& scope,
                          message_sink& sink, const std::optional<std::string>& parent_image = std::nullopt,
                          record_time when = 0);

} // namespace tallowick::monitor
