#pragma once

#include <string>
#include <string_view>

namespace tallowick::console {

// The text of one console line as it may reach a terminal: every control
// character (U+0000 to U+001F and U+007F) becomes \xHH with two upper-case hex
// digits, so that a name or command line can neither end the line early (and
// forge another) nor send an escape sequence to the terminal. Datagrams carry
// the text unchanged, escaped by JSON.
std::string console_safe(std::string_view text);

} // namespace tallowick::console
