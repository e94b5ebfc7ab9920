#pragma once

#include "platform/sdk/etw_types.h"

#include <cstdint>

namespace tallowick::platform::simulated {

// The version a simulated machine reports to the version test.
struct reported_version {
    std::uint32_t major = 10;
    std::uint32_t minor = 0;
    std::uint32_t build = 19045;
    std::uint32_t platform_id = 2; // VER_PLATFORM_WIN32_NT
    std::uint16_t service_pack_major = 0;
    std::uint16_t service_pack_minor = 0;
    std::uint8_t product_type = 1; // VER_NT_WORKSTATION

    // MAJOR.MINOR with the build of that release's last update.
    static reported_version of(std::uint32_t major, std::uint32_t minor);
};

// VerSetConditionMask: one 3-bit condition per field, at 3 times the index of
// the field's bit; a type mask naming several fields sets the highest one only.
std::uint64_t ver_set_condition_mask(std::uint64_t condition_mask, std::uint32_t type_mask,
                                     std::uint8_t condition);

// VerifyVersionInfoW against `machine`: nonzero when every named field holds.
// Major, minor and service pack versions compare as one number, most
// significant first, so that 10.0 is at least 6.2.
std::int32_t verify_version_info(const reported_version& machine, const OSVERSIONINFOEXW& info,
                                 std::uint32_t type_mask, std::uint64_t condition_mask);

} // namespace tallowick::platform::simulated
