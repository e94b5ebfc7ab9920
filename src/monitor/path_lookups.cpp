#include "monitor/lookups.h"
#include "monitor/volume_path_cache.h"
#include "platform/utf_codec.h"

namespace tallowick {

std::string device_path_to_drive_path(const std::string& path) {
    return device_path_to_drive_path(path, volume_path_cache::process_wide());
}

std::string device_path_to_drive_path(const std::string& path, volume_path_cache& cache) {
    const auto match = find_volume_device_prefix(path);
    if (!match)
        return path;
    const std::string_view prefix = std::string_view(path).substr(match->position, match->length);
    const auto root = cache.root_for(prefix, [&path]() -> std::optional<std::string> {
        if (!platform::is_valid_utf8(path))
            return std::nullopt;
        platform::system_api& system = platform::current_system();
        const auto volume_root = system.volume_path_name(system.utf8_to_utf16(path));
        if (!volume_root)
            return std::nullopt;
        return system.utf16_to_utf8(*volume_root);
    });
    if (!root)
        return path;
    std::string drive_path;
    drive_path.reserve(path.size() - match->length + root->size());
    drive_path.append(path, 0, match->position).append(*root).append(path, match->position + match->length);
    return drive_path;
}

std::string get_path_type(const std::string& path) {
    platform::system_api& system = platform::current_system();
    switch (system.file_status(system.utf8_to_utf16(path))) {
    case platform::file_kind::directory:
        return "DIR";
    case platform::file_kind::regular:
        return "FILE";
    case platform::file_kind::none:
    case platform::file_kind::other:
        break;
    }
    return "N/A";
}

} // namespace tallowick
