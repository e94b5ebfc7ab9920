#pragma once

#include "decoding/sid.h"

#include <string>
#include <vector>

namespace tallowick {

// Worker task for a process start (opcode 1) or end (opcode 2): leaves out a
// few command lines, the built-in and the user's excluded processes (matched
// at the end of the lower-cased image name, case-sensitively) and the starts
// made by other monitoring agents; looks up the user and the parent's image
// for a start; prints a console line and sends a process message.
void handle_process_event(int opcode, unsigned int process_id, const std::string& command_line,
                          const std::string& image_file_name, const etw::sid& user_sid,
                          unsigned int parent_process_id, const std::vector<std::string>& excluded_processes);

} // namespace tallowick
