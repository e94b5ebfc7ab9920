#pragma once

#include <string>
#include <string_view>

namespace tallowick::console {

// The text of one console line as it may reach a terminal: every control
// character (U+0000 to U+001F and U+007F) becomes \xHH with two upper-case hex
// digits, so that a name or command line can neither end the line early (and
// forge another) nor send an escape sequence to the terminal; the C1 controls
// (U+0080 to U+009F, among them the 8-bit CSI U+009B), the line and paragraph
// separators (U+2028, U+2029) and the bidirectional controls (U+200E, U+200F,
// U+202A to U+202E, U+2066 to U+2069, which make "invoice_<RLO>fdp.exe" read
// as "invoice_exe.pdf") become \uXXXX with four. Datagrams carry the text
// unchanged, escaped by JSON.
std::string console_safe(std::string_view text);

} // namespace tallowick::console
