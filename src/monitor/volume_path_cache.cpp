#include "monitor/volume_path_cache.h"

namespace tallowick::monitor {

std::optional<device_prefix_match> find_volume_device_prefix(std::string_view path) {
    // The leftmost match of \\Device\\HarddiskVolume[0-9]+\\ : the digits after
    // the fixed text are always all taken, and a backslash must follow them.
    constexpr std::string_view fixed = "\\Device\\HarddiskVolume";
    for (std::size_t start = path.find(fixed); start != std::string_view::npos;
         start = path.find(fixed, start + 1)) {
        std::size_t end = start + fixed.size();
        const std::size_t digits_begin = end;
        while (end < path.size() && path[end] >= '0' && path[end] <= '9')
            ++end;
        if (end > digits_begin && end < path.size() && path[end] == '\\')
            return device_prefix_match{start, end + 1 - start};
    }
    return std::nullopt;
}

volume_path_cache& volume_path_cache::process_wide() {
    static volume_path_cache cache;
    return cache;
}

} // namespace tallowick::monitor
