#pragma once

#include <string>
#include <string_view>

namespace tallowick::collector {

// What may reach a terminal or a line of the collector's files from a datagram.

// A valid message for the console: the same JSON, with DEL and the C1
// controls (U+0080 to U+009F, which some terminals obey) written as \u00XX
// escapes. Nothing else in a valid message can move a cursor or end a line.
std::string shown_message(std::string_view message);

// Anything else, in ASCII: printable characters as they are, the backslash
// and every other byte as \xHH. One line, and no escape sequence survives.
std::string escaped_bytes(std::string_view bytes);

} // namespace tallowick::collector
