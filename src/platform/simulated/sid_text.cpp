#include "platform/simulated/sid_text.h"

#include <charconv>
#include <cstdint>

namespace tallowick::platform::simulated {
namespace {
constexpr std::size_t max_sub_authorities = 15;

bool parse_number(std::string_view text, std::uint64_t limit, std::uint64_t& value) {
    if (text.empty())
        return false;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() && value <= limit;
}
} // namespace

std::optional<std::string> sid_to_text(std::span<const std::byte> sid) {
    if (sid.size() < 8)
        return std::nullopt;
    const auto revision = std::to_integer<unsigned>(sid[0]);
    const auto count = std::to_integer<std::size_t>(sid[1]);
    if (revision != 1 || count > max_sub_authorities || sid.size() < 8 + 4 * count)
        return std::nullopt;
    std::uint64_t authority = 0; // big-endian, 6 bytes
    for (std::size_t i = 2; i < 8; ++i)
        authority = (authority << 8) | std::to_integer<std::uint64_t>(sid[i]);
    std::string text = "S-1-" + std::to_string(authority);
    for (std::size_t i = 0; i < count; ++i) {
        std::uint32_t sub = 0; // little-endian
        for (std::size_t b = 0; b < 4; ++b)
            sub |= std::to_integer<std::uint32_t>(sid[8 + 4 * i + b]) << (8 * b);
        text += '-';
        text += std::to_string(sub);
    }
    return text;
}

std::optional<std::vector<std::byte>> sid_from_text(std::string_view text) {
    if (text.size() < 2 || (text[0] != 'S' && text[0] != 's') || text[1] != '-')
        return std::nullopt;
    text.remove_prefix(2);
    std::vector<std::uint64_t> fields;
    while (true) {
        const std::size_t dash = text.find('-');
        const std::string_view piece = text.substr(0, dash);
        std::uint64_t value = 0;
        const std::uint64_t limit = fields.size() == 1 ? 0xFFFFFFFFFFFFull : 0xFFFFFFFFull;
        if (!parse_number(piece, limit, value))
            return std::nullopt;
        fields.push_back(value);
        if (dash == std::string_view::npos)
            break;
        text.remove_prefix(dash + 1);
    }
    // revision, authority, then 1..15 sub-authorities
    if (fields.size() < 3 || fields[0] != 1 || fields.size() - 2 > max_sub_authorities)
        return std::nullopt;
    const std::size_t count = fields.size() - 2;
    std::vector<std::byte> sid(8 + 4 * count);
    sid[0] = std::byte{1};
    sid[1] = static_cast<std::byte>(count);
    for (std::size_t i = 0; i < 6; ++i)
        sid[2 + i] = static_cast<std::byte>((fields[1] >> (8 * (5 - i))) & 0xFF);
    for (std::size_t i = 0; i < count; ++i)
        for (std::size_t b = 0; b < 4; ++b)
            sid[8 + 4 * i + b] = static_cast<std::byte>((fields[2 + i] >> (8 * b)) & 0xFF);
    return sid;
}

} // namespace tallowick::platform::simulated
