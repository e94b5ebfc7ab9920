#include "platform/simulated/version_test.h"

#include "platform/windows_facts.h"

#include <array>

namespace tallowick::platform::simulated {
namespace {

// The condition stored for the field whose type bit is `bit` (bit 0 to 7).
std::uint8_t condition_of(std::uint64_t condition_mask, unsigned bit) {
    return static_cast<std::uint8_t>((condition_mask >> (3 * bit)) & 0x7);
}

unsigned bit_index(std::uint32_t type_bit) {
    unsigned index = 0;
    while ((type_bit >> index) != 1)
        ++index;
    return index;
}

bool holds(std::uint64_t actual, std::uint64_t wanted, std::uint8_t condition) {
    switch (condition) {
    case ver_equal:
        return actual == wanted;
    case ver_greater:
        return actual > wanted;
    case ver_greater_equal:
        return actual >= wanted;
    case ver_less:
        return actual < wanted;
    case ver_less_equal:
        return actual <= wanted;
    default:
        return false;
    }
}

} // namespace

reported_version reported_version::of(std::uint32_t major, std::uint32_t minor) {
    reported_version version;
    version.major = major;
    version.minor = minor;
    struct release {
        std::uint32_t major, minor, build;
    };
    static constexpr release releases[] = {
        {10, 0, 19045}, {6, 3, 9600}, {6, 2, 9200}, {6, 1, 7601}, {6, 0, 6002}};
    version.build = 0;
    for (const release& known : releases)
        if (known.major == major && known.minor == minor)
            version.build = known.build;
    return version;
}

std::uint64_t ver_set_condition_mask(std::uint64_t condition_mask, std::uint32_t type_mask,
                                     std::uint8_t condition) {
    condition &= 0x7;
    if (type_mask == 0 || condition == 0)
        return condition_mask;
    for (unsigned bit = 8; bit-- > 0;) {
        if ((type_mask & (1u << bit)) != 0)
            return condition_mask | (std::uint64_t{condition} << (3 * bit));
    }
    return condition_mask;
}

std::int32_t verify_version_info(const reported_version& machine, const OSVERSIONINFOEXW& info,
                                 std::uint32_t type_mask, std::uint64_t condition_mask) {
    // Suites (0x40) are not simulated: a test of them fails.
    constexpr std::uint32_t supported = ver_minorversion | ver_majorversion | ver_buildnumber |
                                        ver_platformid | ver_servicepackminor | ver_servicepackmajor |
                                        ver_product_type;
    if (type_mask == 0 || (type_mask & ~supported) != 0 ||
        info.dwOSVersionInfoSize != sizeof(OSVERSIONINFOEXW))
        return 0;
    for (unsigned bit = 0; bit < 8; ++bit) {
        if ((type_mask & (1u << bit)) != 0 && condition_of(condition_mask, bit) == 0)
            return 0; // a field named without a condition
    }

    // Major, minor, service pack major and minor, most significant first: the
    // first that differs decides, by its own condition.
    struct version_field {
        std::uint32_t type_bit;
        std::uint64_t actual;
        std::uint64_t wanted;
    };
    const std::array<version_field, 4> version_fields{{
        {ver_majorversion, machine.major, info.dwMajorVersion},
        {ver_minorversion, machine.minor, info.dwMinorVersion},
        {ver_servicepackmajor, machine.service_pack_major, info.wServicePackMajor},
        {ver_servicepackminor, machine.service_pack_minor, info.wServicePackMinor},
    }};
    std::uint8_t last_condition = 0;
    bool decided = false;
    for (const version_field& field : version_fields) {
        if ((type_mask & field.type_bit) == 0)
            continue;
        last_condition = condition_of(condition_mask, bit_index(field.type_bit));
        if (field.actual != field.wanted) {
            if (!holds(field.actual, field.wanted, last_condition))
                return 0;
            decided = true;
            break;
        }
    }
    if (!decided && last_condition != 0 && !holds(0, 0, last_condition))
        return 0;

    const std::array<version_field, 3> other_fields{{
        {ver_buildnumber, machine.build, info.dwBuildNumber},
        {ver_platformid, machine.platform_id, info.dwPlatformId},
        {ver_product_type, machine.product_type, info.wProductType},
    }};
    for (const version_field& field : other_fields) {
        if ((type_mask & field.type_bit) != 0 &&
            !holds(field.actual, field.wanted, condition_of(condition_mask, bit_index(field.type_bit))))
            return 0;
    }
    return 1;
}

} // namespace tallowick::platform::simulated
