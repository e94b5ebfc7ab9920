#pragma once

#include "platform/sdk/etw_types.h"

#include <string_view>

namespace etw {

// The GUID of the first registered provider whose display name is exactly
// `name`, looked up in the platform's trace data provider collection. Throws
// std::runtime_error naming the failed step and its HRESULT, or saying that no
// provider has the name.
GUID find_provider_guid(std::u16string_view name);

} // namespace etw
