#pragma once

#include "platform/sdk/etw_types.h"

#include <string_view>

namespace etw {

// The platform's trace data provider collection (a COM class) and the
// interface the lookup asks it through.
inline constexpr GUID clsid_trace_data_provider_collection{
    0x03837511, 0x098B, 0x11D8, {0x94, 0x14, 0x50, 0x50, 0x54, 0x50, 0x30, 0x30}};
inline constexpr GUID iid_trace_data_provider_collection{
    0x03837510, 0x098B, 0x11D8, {0x94, 0x14, 0x50, 0x50, 0x54, 0x50, 0x30, 0x30}};

// The GUID of the first registered provider whose display name is exactly
// `name`, looked up in the platform's trace data provider collection. Throws
// std::runtime_error naming the failed step and its HRESULT, or saying that no
// provider has the name.
GUID find_provider_guid(std::u16string_view name);

} // namespace etw
