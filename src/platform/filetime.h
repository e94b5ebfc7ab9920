#pragma once

#include <cstdint>

namespace tallowick::platform {

// 100-nanosecond steps from 1601-01-01 to 1970-01-01.
inline constexpr std::int64_t filetime_of_unix_epoch = 116444736000000000;

// The system time now in FILETIME units: 100 ns since 1601-01-01 UTC.
std::int64_t filetime_now();

} // namespace tallowick::platform
