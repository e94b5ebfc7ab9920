#pragma once

#include <cstddef>
#include <map>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <string>
#include <string_view>

namespace tallowick {

// Where a \Device\HarddiskVolumeN\ prefix (one or more digits, final backslash
// included) first occurs in `path`. Scanned by hand rather than with
// std::regex, whose recursive matcher overflows the stack on a long run of
// digits, as a crafted file name can hold.
struct device_prefix_match {
    std::size_t position = 0;
    std::size_t length = 0;
};
std::optional<device_prefix_match> find_volume_device_prefix(std::string_view path);

// Drive roots learnt per device prefix, shared by every worker. A root is asked
// of the platform once per prefix and kept for the rest of the run; a failed
// query is not remembered.
class volume_path_cache {
public:
    // The root cached for `prefix`, or else the one `query()` gives (an
    // optional string), stored when it has one. Queries run one at a time, so
    // workers racing on a new prefix ask the platform only once.
    template <typename Query> std::optional<std::string> root_for(std::string_view prefix, Query&& query) {
        {
            std::shared_lock lock(mutex);
            if (const auto found = roots.find(prefix); found != roots.end())
                return found->second;
        }
        std::lock_guard lock(mutex);
        if (const auto found = roots.find(prefix); found != roots.end())
            return found->second;
        std::optional<std::string> root = query();
        if (root)
            roots.emplace(std::string(prefix), *root);
        return root;
    }

    std::size_t size() const {
        std::shared_lock lock(mutex);
        return roots.size();
    }

    // The cache of the running program.
    static volume_path_cache& process_wide();

private:
    mutable std::shared_mutex mutex;
    std::map<std::string, std::string, std::less<>> roots;
};

} // namespace tallowick
