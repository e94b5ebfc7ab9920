#pragma once

#include <string>
#include <string_view>

namespace tallowick::platform::windows {

// UTF-16 <-> UTF-8 with the Windows conversions (code page CP_UTF8, no flags):
// unpaired surrogates and malformed UTF-8 become U+FFFD, so neither fails.
std::string wide_to_utf8(std::wstring_view text);
std::wstring utf8_to_wide(std::string_view text);

// The program's UTF-16 type is char16_t; the Windows calls take wchar_t (also
// 16 bits there). These copy across the boundary instead of aliasing the types.
std::wstring to_wide(std::u16string_view text);
std::u16string from_wide(std::wstring_view text);

} // namespace tallowick::platform::windows
