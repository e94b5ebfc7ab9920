#pragma once

namespace etw {

// Whether the system is Windows 8 (6.2) or later, asked of the platform's version
// test every time.
bool is_windows8_or_greater();

} // namespace etw
