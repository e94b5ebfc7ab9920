#pragma once

#include "platform/sdk/etw_types.h"

#include <cstring>
#include <string>

namespace tallowick::platform {

// GUIDs are equal when all 16 bytes are.
inline bool same_guid(const GUID& left, const GUID& right) {
    return std::memcmp(&left, &right, sizeof(GUID)) == 0;
}

inline bool is_null_guid(const GUID& guid) {
    return same_guid(guid, GUID{});
}

// Orders GUIDs by their 16 bytes in memory order, as unsigned bytes: for maps
// keyed by GUID.
struct guid_less {
    bool operator()(const GUID& left, const GUID& right) const {
        return std::memcmp(&left, &right, sizeof(GUID)) < 0;
    }
};

// 36 lower-case characters, no braces: 3d6fa8d0-fe05-11d0-9dda-00c04fd7ba7c.
std::string guid_text(const GUID& guid);

// A fresh GUID from the platform (CoCreateGuid); its status is not examined.
GUID create_guid();

} // namespace tallowick::platform
