#include "platform/utf_codec.h"

#include <cstdint>

namespace tallowick::platform {
namespace {
constexpr char32_t replacement = 0xFFFD;

void append_utf8(std::string& out, char32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

void append_utf16(std::u16string& out, char32_t code) {
    if (code < 0x10000) {
        out += static_cast<char16_t>(code);
    } else {
        code -= 0x10000;
        out += static_cast<char16_t>(0xD800 | (code >> 10));
        out += static_cast<char16_t>(0xDC00 | (code & 0x3FF));
    }
}

// Decodes the character at `position` and moves past it; on an ill-formed
// sequence gives nothing and moves past its maximal subpart only (at least one
// byte), leaving the byte that broke it for the next call. Ranges of the
// second byte follow the Unicode table of well-formed UTF-8 byte sequences.
bool decode_utf8(std::string_view text, std::size_t& position, char32_t& code) {
    const auto byte_at = [&text](std::size_t index) { return static_cast<unsigned char>(text[index]); };
    const unsigned char lead = byte_at(position++);
    if (lead < 0x80) {
        code = lead;
        return true;
    }
    std::size_t trail_count = 0;
    unsigned char second_low = 0x80;
    unsigned char second_high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        trail_count = 1;
        code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        trail_count = 2;
        code = lead & 0x0F;
        if (lead == 0xE0)
            second_low = 0xA0; // no overlong forms
        else if (lead == 0xED)
            second_high = 0x9F; // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        trail_count = 3;
        code = lead & 0x07;
        if (lead == 0xF0)
            second_low = 0x90;
        else if (lead == 0xF4)
            second_high = 0x8F; // nothing above U+10FFFF
    } else {
        return false;
    }
    for (std::size_t i = 0; i < trail_count; ++i) {
        if (position >= text.size())
            return false;
        const unsigned char trail = byte_at(position);
        const unsigned char low = i == 0 ? second_low : 0x80;
        const unsigned char high = i == 0 ? second_high : 0xBF;
        if (trail < low || trail > high)
            return false;
        code = (code << 6) | (trail & 0x3F);
        ++position;
    }
    return true;
}
} // namespace

std::string utf16_to_utf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i];
        if (unit < 0xD800 || unit > 0xDFFF) {
            append_utf8(out, unit);
        } else if (unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            append_utf8(out,
                        0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) + (text[i + 1] - 0xDC00));
            ++i;
        } else {
            append_utf8(out, replacement);
        }
    }
    return out;
}

std::u16string utf8_to_utf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    std::size_t position = 0;
    while (position < text.size()) {
        char32_t code = 0;
        append_utf16(out, decode_utf8(text, position, code) ? code : replacement);
    }
    return out;
}

bool is_valid_utf8(std::string_view text) {
    std::size_t position = 0;
    char32_t code = 0;
    while (position < text.size())
        if (!decode_utf8(text, position, code))
            return false;
    return true;
}

std::string valid_utf8(std::string_view text) {
    return is_valid_utf8(text) ? std::string(text) : utf16_to_utf8(utf8_to_utf16(text));
}

} // namespace tallowick::platform
