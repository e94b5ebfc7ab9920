#include "platform/filetime.h"

#include <chrono>

namespace tallowick::platform {

std::int64_t filetime_now() {
    const auto since_epoch = std::chrono::system_clock::now().time_since_epoch();
    return filetime_of_unix_epoch +
           std::chrono::duration_cast<std::chrono::nanoseconds>(since_epoch).count() / 100;
}

} // namespace tallowick::platform
