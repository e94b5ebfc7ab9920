#pragma once

#include <string>
#include <string_view>

namespace etw {

// Throws std::length_error for a name beyond the properties block's name area,
// before anything reaches the platform.
void check_session_name(std::u16string_view name);

// The name after check_session_name, or for an empty name the text of a fresh
// GUID ({XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}); std::bad_alloc when the platform
// gives the GUID no text.
std::u16string session_name_or_guid(std::u16string name);

} // namespace etw
