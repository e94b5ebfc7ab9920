#pragma once

#include <string>

namespace tallowick::testing {

// Text as it appears inside a JSON string: backslashes and quotes escaped.
inline std::string json_text(const std::string& text) {
    std::string escaped;
    for (const char c : text) {
        if (c == '\\' || c == '"')
            escaped += '\\';
        escaped += c;
    }
    return escaped;
}

} // namespace tallowick::testing
