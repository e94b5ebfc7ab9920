#include "trace/windows_version.h"

#include "platform/tracing_api.h"
#include "platform/windows_facts.h"

#include <cstdint>

namespace etw {
namespace platform = tallowick::platform;

namespace {
bool is_version_or_greater(std::uint32_t major, std::uint32_t minor) {
    auto& tracing = tallowick::platform::current_tracing();
    OSVERSIONINFOEXW info{};
    info.dwOSVersionInfoSize = sizeof info;
    info.dwMajorVersion = major;
    info.dwMinorVersion = minor;
    info.wServicePackMajor = 0;
    std::uint64_t mask =
        tracing.ver_set_condition_mask(0, platform::ver_majorversion, platform::ver_greater_equal);
    mask = tracing.ver_set_condition_mask(mask, platform::ver_minorversion, platform::ver_greater_equal);
    mask = tracing.ver_set_condition_mask(mask, platform::ver_servicepackmajor, platform::ver_greater_equal);
    return tracing.verify_version_info(&info,
                                       platform::ver_minorversion | platform::ver_majorversion |
                                           platform::ver_servicepackmajor,
                                       mask) != 0;
}
} // namespace

bool is_windows8_or_greater() {
    return is_version_or_greater(6, 2);
}

bool is_windows8_1_or_greater() {
    return is_version_or_greater(6, 3);
}

} // namespace etw
