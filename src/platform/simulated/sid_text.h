#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tallowick::platform::simulated {

// The standard S-R-I-S-S... text of a binary SID, or nothing when `sid` does
// not hold a complete SID (8 bytes plus 4 per sub-authority, revision 1).
std::optional<std::string> sid_to_text(std::span<const std::byte> sid);

// The binary SID of an S-R-I-S... text, or nothing when the text is not one
// (at most 15 sub-authorities, each below 2^32; authority below 2^48).
std::optional<std::vector<std::byte>> sid_from_text(std::string_view text);

} // namespace tallowick::platform::simulated
