#pragma once

#include <string_view>

namespace tallowick {

// Writes one console line to standard output in a single write, so that lines
// of concurrent tasks never interleave inside a line. `text` excludes the line
// end; `flush` pushes it out at once (start, stop and caught-error lines).
// Control characters inside `text` are shown escaped (console_text.h).
void write_line(std::string_view text, bool flush = false);

// The same for standard error, which is unbuffered.
void write_error_line(std::string_view text);

} // namespace tallowick
