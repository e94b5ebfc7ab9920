#include "monitor/lookups.h"
#include "monitor/volume_path_cache.h"

namespace tallowick::monitor {
namespace {
constexpr int drive_letters = 26;

drive_map build_drive_map(platform::system_api& system) {
    drive_map map;
    map.drives = system.logical_drives();
    for (int index = 0; index < drive_letters; ++index) {
        if ((map.drives & (1u << index)) == 0)
            continue;
        const auto device = system.query_dos_device(static_cast<char16_t>(u'A' + index));
        if (!device || device->empty())
            continue;
        const std::string letter(1, static_cast<char>('A' + index));
        // A volume with two letters keeps the first, as the drive strings list them.
        map.roots.emplace(system.utf16_to_utf8(*device) + "\\", letter + ":\\");
    }
    return map;
}
} // namespace

std::string device_path_to_drive_path(const std::string& path) {
    return device_path_to_drive_path(path, volume_path_cache::process_wide());
}

std::string device_path_to_drive_path(const std::string& path, volume_path_cache& cache) {
    const auto match = find_volume_device_prefix(path);
    if (!match)
        return path;
    const std::string_view prefix = std::string_view(path).substr(match->position, match->length);
    platform::system_api& system = platform::current_system();
    const auto root = cache.root_for(
        prefix, [&system] { return system.logical_drives(); }, [&system] { return build_drive_map(system); });
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

} // namespace tallowick::monitor
