#include "support/sid_and_text_system.h"

#include "platform/simulated/sid_text.h"

#include <boost/locale/encoding_utf.hpp>

namespace tallowick::testing {

std::optional<std::string> sid_and_text_system::convert_sid_to_string(const std::byte* sid) {
    ++sid_conversions;
    if (refuse_sid_conversion)
        return std::nullopt;
    // The caller vouches for the whole SID: 8 bytes plus 4 per sub-authority.
    const std::size_t size = 8 + 4 * std::to_integer<std::size_t>(sid[1]);
    return platform::simulated::sid_to_text({sid, size});
}

std::optional<std::vector<std::byte>> sid_and_text_system::convert_string_to_sid(const std::string& text) {
    return platform::simulated::sid_from_text(text);
}

std::string sid_and_text_system::utf16_to_utf8(std::u16string_view text) {
    return boost::locale::conv::utf_to_utf<char>(text.data(), text.data() + text.size());
}

std::u16string sid_and_text_system::utf8_to_utf16(std::string_view text) {
    return boost::locale::conv::utf_to_utf<char16_t>(text.data(), text.data() + text.size());
}

} // namespace tallowick::testing
