#pragma once

#include "monitor/event_scope.h"
#include "monitor/message_sink.h"
#include "monitor/process_attribution.h"

#include <string>
#include <string_view>

namespace tallowick::monitor {

// Worker tasks for file events accepted by the file callback. Each decides
// whether the event is in scope and not excluded, enriches it, prints its
// console line and hands a file-system message to `sink`.
// `origin` names the process as the tracker knew it when the record came
// (none: the live look-ups alone); a process nothing names is reported as
// "UNKNOWN", past the exclusions, rather than dropped.

// Event 12, a file opened: labelled by the share mode requested.
void handle_file_access_event(int event_id, unsigned int process_id, const std::string& file_name,
                              unsigned int share_access, const event_scope& scope, message_sink& sink,
                              const event_origin& origin = {});

// Events 26, 27, 30 (deleted, renamed, created). `file_name` is "UNKNOWN" when
// the event's name could not be read.
void handle_file_path_event(int event_id, unsigned int process_id, const std::u16string& file_name,
                            const event_scope& scope, message_sink& sink, const event_origin& origin = {});

// Whether the built-in process table removes an open by `process_name` with
// this label: the first entry that names the program decides, and the file
// explorer is spared for a plain "DELETE".
bool is_default_excluded(const event_scope& scope, std::string_view process_name, std::string_view label);

} // namespace tallowick::monitor
