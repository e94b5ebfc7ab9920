#include "decoding/sid.h"

#include "platform/system_api.h"

#include <stdexcept>

namespace etw {

namespace {
// Revision, sub-authority count and the 6-byte authority.
constexpr std::size_t sid_fixed_size = 8;

// Hands the platform a pointer it may read the whole SID from.
sid sid_from_pointer(const std::byte* binary) {
    auto text = tallowick::platform::current_system().convert_sid_to_string(binary);
    if (!text)
        throw std::runtime_error("Failed to get a SID from a property");
    return sid{std::move(*text)};
}
} // namespace

sid sid_from_bytes(std::span<const std::byte> bytes) {
    if (bytes.size() < sid_fixed_size ||
        sid_fixed_size + 4 * std::to_integer<std::size_t>(bytes[1]) > bytes.size())
        throw std::runtime_error("SID does not fit in its property");
    return sid_from_pointer(bytes.data());
}

} // namespace etw
