#include "trace/windows_version.h"

#include "platform/tracing_api.h"
#include "platform/windows_facts.h"

#include <cstdint>

namespace etw {
namespace platform = tallowick::platform;

bool is_windows8_or_greater() {
    auto& tracing = tallowick::platform::current_tracing();
    OSVERSIONINFOEXW info{};
    info.dwOSVersionInfoSize = sizeof info;
    info.dwMajorVersion = 6;
    info.dwMinorVersion = 2;
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

} // namespace etw
