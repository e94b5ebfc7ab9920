#pragma once

#include "monitor/process_attribution.h"

#include <string>
#include <string_view>
#include <vector>

namespace tallowick {

// Worker tasks for file events accepted by the file callback. Each decides
// whether the event is in scope and not excluded, enriches it, prints its
// console line and sends a file-system message. The two lists are the
// process-wide monitored paths and excluded processes (or a test's own).
// `origin` names the process as the tracker knew it when the record came
// (none: the live look-ups alone); a process nothing names is reported as
// "UNKNOWN", past the exclusions, rather than dropped.

// Event 12, a file opened: labelled by the share mode requested.
void handle_file_access_event(int event_id, unsigned int process_id, const std::string& file_name,
                              unsigned int share_access, const std::vector<std::string>& monitored_paths,
                              const std::vector<std::string>& excluded_processes,
                              const event_origin& origin = {});

// Events 26, 27, 30 (deleted, renamed, created). `file_name` is "UNKNOWN" when
// the event's name could not be read.
void handle_file_path_event(int event_id, unsigned int process_id, const std::u16string& file_name,
                            const std::vector<std::string>& monitored_paths,
                            const std::vector<std::string>& excluded_processes,
                            const event_origin& origin = {});

// Whether the built-in process table removes an open by `process_name` with
// this label: the first entry the name contains decides, and the file explorer
// is spared for a plain "DELETE".
bool is_default_excluded(std::string_view process_name, std::string_view label);

} // namespace tallowick
