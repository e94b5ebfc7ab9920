#pragma once

#include "platform/sdk/etw_types.h"

#include <cstring>
#include <string>

namespace etw {

// GUIDs are equal when all 16 bytes are.
inline bool same_guid(const GUID& left, const GUID& right) {
    return std::memcmp(&left, &right, sizeof(GUID)) == 0;
}

inline bool is_null_guid(const GUID& guid) {
    return same_guid(guid, GUID{});
}

// 36 lower-case characters, no braces: 3d6fa8d0-fe05-11d0-9dda-00c04fd7ba7c.
std::string guid_text(const GUID& guid);

// A fresh GUID from the platform (CoCreateGuid); its status is not examined.
GUID create_guid();

} // namespace etw
