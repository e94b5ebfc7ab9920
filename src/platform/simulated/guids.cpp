#include "platform/simulated/guids.h"

#include <cstdint>

namespace tallowick::platform::simulated {

std::u16string clsid_text(const GUID& guid) {
    static constexpr char16_t digits[] = u"0123456789ABCDEF";
    std::u16string text = u"{";
    const auto put = [&](std::uint64_t value, int width) {
        for (int shift = 4 * (width - 1); shift >= 0; shift -= 4)
            text.push_back(digits[(value >> shift) & 0xF]);
    };
    put(guid.Data1, 8);
    text.push_back(u'-');
    put(guid.Data2, 4);
    text.push_back(u'-');
    put(guid.Data3, 4);
    text.push_back(u'-');
    for (int i = 0; i < 8; ++i) {
        if (i == 2)
            text.push_back(u'-');
        put(guid.Data4[i], 2);
    }
    text.push_back(u'}');
    return text;
}

} // namespace tallowick::platform::simulated
