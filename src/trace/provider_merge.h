#pragma once
// One enable call per provider GUID: the settings of every provider registered
// under that GUID, merged.

#include "platform/guid.h"
#include "platform/sdk/etw_types.h"
#include "trace/session_providers.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <vector>

namespace etw {

struct merged_settings {
    std::uint8_t level = 0; // OR-ed like the rest: levels 2 and 4 give 6
    std::uint64_t any_keywords = 0;
    std::uint64_t all_keywords = 0;
    std::uint32_t enable_property = 0;
    std::set<std::uint16_t> event_ids; // of every filter of every provider with the GUID
};

using merged_providers = std::map<GUID, merged_settings, tallowick::platform::guid_less>;

merged_providers merge_providers(const manifest_provider_list& providers);

// An EVENT_FILTER_EVENT_ID that lets exactly `ids` in: FilterIn 1, Count, then the
// ids in ascending order, every field little-endian. `ids` is not empty.
std::vector<std::byte> event_id_filter(const std::set<std::uint16_t>& ids);

} // namespace etw
