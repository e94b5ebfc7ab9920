#pragma once

#include <string>
#include <string_view>

namespace tallowick::platform {

// UTF-16 <-> UTF-8 as Windows converts: never failing, each unpaired surrogate
// and each maximal ill-formed UTF-8 subpart becomes one U+FFFD, and the text
// after it is kept. (The decoders of Boost.Locale and Boost.Nowide swallow the
// unit that follows a broken sequence, losing a real character.)
std::string utf16_to_utf8(std::u16string_view text);
std::u16string utf8_to_utf16(std::string_view text);

bool is_valid_utf8(std::string_view text);
// `text` itself when it is UTF-8, otherwise with each ill-formed part replaced by U+FFFD.
std::string valid_utf8(std::string_view text);

} // namespace tallowick::platform
