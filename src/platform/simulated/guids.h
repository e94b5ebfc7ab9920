#pragma once

#include "platform/sdk/etw_types.h"

#include <string>

namespace tallowick::platform::simulated {

// The text StringFromCLSID writes: {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}, 38
// characters, upper-case hexadecimal.
std::u16string clsid_text(const GUID& guid);

} // namespace tallowick::platform::simulated
