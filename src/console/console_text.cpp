#include "console/console_text.h"

#include <cstdint>

namespace tallowick::console {
namespace {
constexpr char hex[] = "0123456789ABCDEF";

constexpr bool is_c0_or_del(unsigned char byte) {
    return byte < 0x20 || byte == 0x7F;
}

// Characters beyond ASCII that a terminal acts on, hides or uses to reorder
// the line: the C1 controls, the line and paragraph separators and the
// bidirectional marks, embeddings, overrides and isolates.
constexpr bool is_invisible_control(std::uint32_t code_point) {
    return (code_point >= 0x80 && code_point <= 0x9F) || code_point == 0x2028 || code_point == 0x2029 ||
           code_point == 0x200E || code_point == 0x200F || (code_point >= 0x202A && code_point <= 0x202E) ||
           (code_point >= 0x2066 && code_point <= 0x2069);
}

// The code point of a two- or three-byte UTF-8 sequence at the start of
// `text` and its length; 0 length for anything else. Only these lengths can
// encode the characters above, and UTF-8's lead bytes never occur inside a
// sequence, so a match is always a whole character.
struct decoded {
    std::uint32_t code_point = 0;
    std::size_t length = 0;
};
decoded decode_short_sequence(std::string_view text) {
    const auto byte = [&text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const auto continuation = [&](std::size_t i) { return i < text.size() && (byte(i) & 0xC0) == 0x80; };
    if ((byte(0) & 0xE0) == 0xC0 && continuation(1))
        return {(std::uint32_t{byte(0) & 0x1Fu} << 6) | (byte(1) & 0x3Fu), 2};
    if ((byte(0) & 0xF0) == 0xE0 && continuation(1) && continuation(2))
        return {(std::uint32_t{byte(0) & 0x0Fu} << 12) | (std::uint32_t{byte(1) & 0x3Fu} << 6) |
                    (byte(2) & 0x3Fu),
                3};
    return {};
}
} // namespace

std::string console_safe(std::string_view text) {
    std::string safe;
    safe.reserve(text.size());
    while (!text.empty()) {
        const auto byte = static_cast<unsigned char>(text.front());
        if (is_c0_or_del(byte)) {
            safe += "\\x";
            safe += hex[byte >> 4];
            safe += hex[byte & 0x0F];
            text.remove_prefix(1);
            continue;
        }
        if (byte >= 0xC0) {
            const decoded character = decode_short_sequence(text);
            if (character.length != 0 && is_invisible_control(character.code_point)) {
                safe += "\\u";
                for (int shift = 12; shift >= 0; shift -= 4)
                    safe += hex[(character.code_point >> shift) & 0x0F];
                text.remove_prefix(character.length);
                continue;
            }
        }
        safe += text.front();
        text.remove_prefix(1);
    }
    return safe;
}

} // namespace tallowick::console
