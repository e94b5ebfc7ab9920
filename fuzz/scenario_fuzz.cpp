// The scenario loader on arbitrary bytes: every input either parses or is
// refused with a scenario_error, never anything worse.
#include "platform/simulated/scenario.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    try {
        tallowick::platform::simulated::parse_scenario(text);
    } catch (const tallowick::platform::simulated::scenario_error&) {
    }
    return 0;
}
