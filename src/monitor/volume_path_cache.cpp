#include "monitor/volume_path_cache.h"

namespace tallowick::monitor {

std::optional<device_prefix_match> find_volume_device_prefix(std::string_view path) {
    // \\Device\\HarddiskVolume[0-9]+\\ at the start: the digits after the fixed
    // text are always all taken, and a backslash must follow them.
    constexpr std::string_view fixed = "\\Device\\HarddiskVolume";
    if (!path.starts_with(fixed))
        return std::nullopt;
    std::size_t end = fixed.size();
    while (end < path.size() && path[end] >= '0' && path[end] <= '9')
        ++end;
    if (end > fixed.size() && end < path.size() && path[end] == '\\')
        return device_prefix_match{0, end + 1};
    return std::nullopt;
}

volume_path_cache& volume_path_cache::process_wide() {
    static volume_path_cache cache;
    return cache;
}

} // namespace tallowick::monitor
