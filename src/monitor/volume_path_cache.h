#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <shared_mutex>
#include <string>
#include <string_view>

namespace tallowick::monitor {

// The \Device\HarddiskVolumeN\ prefix (one or more digits, final backslash
// included) that `path` starts with. Only at the start: the same text inside a
// path (a share's folder named so) names no volume. Scanned by hand rather
// than with std::regex, whose recursive matcher overflows the stack on a long
// run of digits, as a crafted file name can hold.
struct device_prefix_match {
    std::size_t position = 0;
    std::size_t length = 0;
};
std::optional<device_prefix_match> find_volume_device_prefix(std::string_view path);

// The drive letters of the machine by device prefix (C:\ for the prefix
// \Device\HarddiskVolume3\ for example), learnt from each letter's device name (GetLogicalDrives and
// QueryDosDeviceW), since Windows answers GetVolumePathNameW on an NT path with
// the boot volume's drive whatever volume it names.
struct drive_map {
    std::uint32_t drives = 0; // the GetLogicalDrives bits it was built from
    std::map<std::string, std::string, std::less<>> roots;
};

// The drive map shared by every worker. Built on first use and built again
// when a prefix is not in it (a volume mounted since); a prefix still missing
// after that (a volume without a drive letter) costs a new build only once
// the drive letters have changed.
class volume_path_cache {
  public:
    // `drives()` gives the current GetLogicalDrives bits, `build()` a new map.
    template <typename Drives, typename Build>
    std::optional<std::string> root_for(std::string_view prefix, Drives&& drives, Build&& build) {
        {
            std::shared_lock lock(mutex_);
            if (const auto found = map_.roots.find(prefix); found != map_.roots.end())
                return found->second;
        }
        std::lock_guard lock(mutex_);
        if (const auto found = map_.roots.find(prefix); found != map_.roots.end())
            return found->second;
        if (built_ && missing_.count(prefix) != 0 && drives() == map_.drives)
            return std::nullopt;
        map_ = build();
        built_ = true;
        ++builds_;
        missing_.clear();
        if (const auto found = map_.roots.find(prefix); found != map_.roots.end())
            return found->second;
        missing_.emplace(prefix);
        return std::nullopt;
    }

    std::size_t size() const {
        std::shared_lock lock(mutex_);
        return map_.roots.size();
    }
    std::size_t build_count() const {
        std::shared_lock lock(mutex_);
        return builds_;
    }

    // The cache of the running program.
    static volume_path_cache& process_wide();

  private:
    mutable std::shared_mutex mutex_;
    drive_map map_;
    bool built_ = false;
    std::size_t builds_ = 0;
    std::set<std::string, std::less<>> missing_; // since the last build
};

} // namespace tallowick::monitor
