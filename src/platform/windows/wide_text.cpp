#include "platform/windows/wide_text.h"

#include <windows.h>

#include <limits>
#include <stdexcept>

namespace tallowick::platform::windows {
namespace {
static_assert(sizeof(wchar_t) == sizeof(char16_t));

int checked_length(std::size_t size) {
    if (size > static_cast<std::size_t>(std::numeric_limits<int>::max()))
        throw std::length_error("text too long to convert");
    return static_cast<int>(size);
}
} // namespace

std::string wide_to_utf8(std::wstring_view text) {
    if (text.empty())
        return {};
    const int length = checked_length(text.size());
    const int needed = WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    if (needed <= 0)
        return {};
    std::string result(static_cast<std::size_t>(needed), '\0');
    const int written =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), length, result.data(), needed, nullptr, nullptr);
    result.resize(written > 0 ? static_cast<std::size_t>(written) : 0);
    return result;
}

std::wstring utf8_to_wide(std::string_view text) {
    if (text.empty())
        return {};
    const int length = checked_length(text.size());
    const int needed = MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0);
    if (needed <= 0)
        return {};
    std::wstring result(static_cast<std::size_t>(needed), L'\0');
    const int written = MultiByteToWideChar(CP_UTF8, 0, text.data(), length, result.data(), needed);
    result.resize(written > 0 ? static_cast<std::size_t>(written) : 0);
    return result;
}

std::wstring to_wide(std::u16string_view text) {
    return std::wstring(text.begin(), text.end());
}

std::u16string from_wide(std::wstring_view text) {
    return std::u16string(text.begin(), text.end());
}

} // namespace tallowick::platform::windows
