#include "trace/windows_version.h"

#include "platform/tracing_api.h"

#include <cstdint>

namespace etw {
namespace sdk = tallowick::platform::sdk;

bool is_windows8_or_greater() {
    auto& tracing = tallowick::platform::current_tracing();
    OSVERSIONINFOEXW info{};
    info.dwOSVersionInfoSize = sizeof info;
    info.dwMajorVersion = 6;
    info.dwMinorVersion = 2;
    info.wServicePackMajor = 0;
    std::uint64_t mask = tracing.ver_set_condition_mask(0, sdk::ver_majorversion, sdk::ver_greater_equal);
    mask = tracing.ver_set_condition_mask(mask, sdk::ver_minorversion, sdk::ver_greater_equal);
    mask = tracing.ver_set_condition_mask(mask, sdk::ver_servicepackmajor, sdk::ver_greater_equal);
    return tracing.verify_version_info(
               &info, sdk::ver_minorversion | sdk::ver_majorversion | sdk::ver_servicepackmajor, mask) != 0;
}

} // namespace etw
