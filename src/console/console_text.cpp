#include "console/console_text.h"

#include <algorithm>

namespace tallowick::console {
namespace {
constexpr bool is_control(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F;
}
} // namespace

std::string console_safe(std::string_view text) {
    const auto controls = static_cast<std::size_t>(std::count_if(text.begin(), text.end(), is_control));
    std::string safe;
    safe.reserve(text.size() + 3 * controls);
    static constexpr char hex[] = "0123456789ABCDEF";
    for (const char c : text) {
        if (!is_control(c)) {
            safe += c;
            continue;
        }
        const auto byte = static_cast<unsigned char>(c);
        safe += "\\x";
        safe += hex[byte >> 4];
        safe += hex[byte & 0x0F];
    }
    return safe;
}

} // namespace tallowick::console
