#pragma once

#include <cstddef>
#include <span>
#include <string>

namespace etw {

// A security identifier in its string form, e.g. S-1-5-18.
struct sid {
    std::string sid_string; // empty: the process had no token
};

// Renders the binary SID at the start of `bytes` through the platform. Throws
// std::runtime_error when the SID's declared size (8 bytes plus 4 per
// sub-authority) does not fit in `bytes`, or when the platform cannot convert it.
sid sid_from_bytes(std::span<const std::byte> bytes);

} // namespace etw
