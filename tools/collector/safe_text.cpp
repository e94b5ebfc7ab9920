#include "collector/safe_text.h"

namespace tallowick::collector {
namespace {
constexpr char hex_digits[] = "0123456789ABCDEF";

void append_hex(std::string& out, unsigned char byte) {
    out += hex_digits[byte >> 4];
    out += hex_digits[byte & 0x0F];
}
} // namespace

std::string shown_message(std::string_view message) {
    std::string shown;
    shown.reserve(message.size());
    for (std::size_t i = 0; i < message.size(); ++i) {
        const auto byte = static_cast<unsigned char>(message[i]);
        const bool c1 = byte == 0xC2 && i + 1 < message.size() &&
                        static_cast<unsigned char>(message[i + 1]) >= 0x80 &&
                        static_cast<unsigned char>(message[i + 1]) <= 0x9F;
        if (byte == 0x7F || c1) {
            const unsigned char code = c1 ? static_cast<unsigned char>(message[++i]) : byte;
            shown += "\\u00";
            append_hex(shown, code);
        } else {
            shown += static_cast<char>(byte);
        }
    }
    return shown;
}

std::string escaped_bytes(std::string_view bytes) {
    std::string escaped;
    escaped.reserve(bytes.size());
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7F && byte != '\\') {
            escaped += c;
        } else {
            escaped += "\\x";
            append_hex(escaped, byte);
        }
    }
    return escaped;
}

} // namespace tallowick::collector
