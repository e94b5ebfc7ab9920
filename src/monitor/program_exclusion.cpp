#include "monitor/program_exclusion.h"

#include "monitor/name_comparison.h"

#include <array>

namespace tallowick::monitor {
namespace {
// The folders of C:\Windows that hold its programs, as a drive-form path shows them.
constexpr std::array<std::string_view, 3> windows_folders = {
    "C:\\Windows\\",
    "C:\\Windows\\System32\\",
    "C:\\Windows\\SysWOW64\\",
};

bool in_windows_folder(std::string_view image, std::string_view file_name) {
    const std::string_view folder = image.substr(0, image.size() - file_name.size());
    for (const std::string_view windows : windows_folders) {
        if (equals_ignoring_case(folder, windows))
            return true;
    }
    return false;
}

bool name_matches(const excluded_program& entry, std::string_view image, std::string_view file_name) {
    switch (entry.match) {
    case program_match::file_name:
        return file_name == entry.name;
    case program_match::name_prefix:
        return file_name.starts_with(entry.name);
    case program_match::path_ending:
        return ends_at_name_boundary(image, entry.name);
    }
    return false;
}
} // namespace

std::string_view file_name_of(std::string_view image) {
    const std::size_t last_separator = image.rfind('\\');
    return last_separator == std::string_view::npos ? image : image.substr(last_separator + 1);
}

bool names_program(const excluded_program& entry, std::string_view image) {
    const std::string_view file_name = file_name_of(image);
    if (!name_matches(entry, image, file_name))
        return false;
    const bool bare_name = file_name.size() == image.size();
    return entry.home == program_home::anywhere || bare_name || in_windows_folder(image, file_name);
}

} // namespace tallowick::monitor
