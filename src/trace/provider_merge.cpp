#include "trace/provider_merge.h"

namespace etw {
namespace {
void put_u16(std::byte* at, std::uint16_t value) {
    at[0] = static_cast<std::byte>(value & 0xFF);
    at[1] = static_cast<std::byte>(value >> 8);
}
} // namespace

merged_providers merge_providers(const manifest_provider_list& providers) {
    merged_providers merged;
    for (const manifest_provider& registered : providers) {
        merged_settings& entry = merged[registered.guid];
        entry.level |= registered.level;
        entry.any_keywords |= registered.any_keywords;
        entry.all_keywords |= registered.all_keywords;
        entry.enable_property |= registered.enable_property;
        for (const auto& filter : registered.filters())
            entry.event_ids.insert(filter.event_ids().begin(), filter.event_ids().end());
    }
    return merged;
}

std::vector<std::byte> event_id_filter(const std::set<std::uint16_t>& ids) {
    constexpr std::size_t header_size = 4;
    std::vector<std::byte> filter(header_size + 2 * ids.size());
    filter[0] = std::byte{1}; // FilterIn: the listed ids pass
    put_u16(&filter[2], static_cast<std::uint16_t>(ids.size()));
    std::byte* next = filter.data() + header_size;
    for (const std::uint16_t id : ids) {
        put_u16(next, id);
        next += 2;
    }
    return filter;
}

} // namespace etw
