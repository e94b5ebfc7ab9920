#pragma once

#include <rapidjson/document.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tallowick::output {

// The largest UDP payload over IPv4.
inline constexpr std::size_t max_datagram_payload = 65507;

// What one string value lost to make a message fit.
struct shortened_value {
    std::string key;
    std::size_t old_bytes = 0; // serialised, quotes and escapes included
    std::size_t new_bytes = 0;
};

// The bytes `text` takes inside a JSON string as the default writer escapes it.
std::size_t escaped_size(std::string_view text);

// Cuts the longest string values of a flat message (the members of a top-level
// object) to one common length, each at a UTF-8 character boundary and never
// inside an escape, so that its compact JSON, now `serialised_size` bytes, is at
// most `limit` bytes. The last `kept_members` members are never cut. Returns
// what was cut, or nothing when even empty strings would not fit (the message
// is then left as it was).
std::optional<std::vector<shortened_value>> shorten_to_fit(rapidjson::Document& message,
                                                           std::size_t serialised_size, std::size_t limit,
                                                           std::size_t kept_members = 0);

} // namespace tallowick::output
