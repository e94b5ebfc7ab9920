#pragma once

namespace etw {

// Whether the system is Windows 8 (6.2) or later, asked of the platform's version
// test every time (Windows answers a program not manifested for 8.1 and later
// as 8.0 at most: the program's manifest declares them).
bool is_windows8_or_greater();
// The same for Windows 8.1 (6.3), the first to take event-id filters.
bool is_windows8_1_or_greater();

} // namespace etw
