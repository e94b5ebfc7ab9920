#pragma once

#include "platform/sdk/etw_types.h"

#include <cstring>
#include <string>

namespace tallowick::platform::simulated {

// GUIDs are equal when all 16 bytes are.
inline bool same_guid(const GUID& left, const GUID& right) {
    return std::memcmp(&left, &right, sizeof(GUID)) == 0;
}

// Orders GUIDs by their 16 bytes in memory, for maps keyed by GUID.
struct guid_less {
    bool operator()(const GUID& left, const GUID& right) const {
        return std::memcmp(&left, &right, sizeof(GUID)) < 0;
    }
};

// The text StringFromCLSID writes: {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}, 38
// characters, upper-case hexadecimal.
std::u16string clsid_text(const GUID& guid);

} // namespace tallowick::platform::simulated
