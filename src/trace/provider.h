#pragma once

#include "platform/sdk/etw_types.h"
#include "trace/filtered_provider.h"
#include "trace/provider_lookup.h"

#include <cstdint>
#include <string_view>

namespace etw {

// A registered event provider, found by its registered name, with the settings
// its session enables it with. A session keeps a reference to it: it must not
// move after registration, nor change while the session processes.
template <typename Keywords> class provider : public filtered_provider {
  public:
    // Looks the GUID up among the registered providers (find_provider_guid);
    // throws std::runtime_error when that fails.
    explicit provider(std::u16string_view name) : guid(find_provider_guid(name)) {}

    void set_any_keywords(Keywords keywords) { any_keywords = keywords; }

    GUID guid;
    Keywords any_keywords = 0;
    Keywords all_keywords = 0;
    std::uint8_t level = tallowick::platform::sdk::trace_level_verbose;
    std::uint32_t enable_property = 0;
    bool rundown_requested = false;
};

} // namespace etw
