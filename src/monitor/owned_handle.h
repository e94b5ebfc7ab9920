#pragma once

#include "platform/system_api.h"

#include <utility>

namespace tallowick {

// A process or token handle closed through the installed system when it goes
// out of scope, so every way out of a lookup releases it.
class owned_handle {
public:
    explicit owned_handle(platform::native_handle handle) : value(handle) {}
    ~owned_handle() {
        if (value != 0)
            platform::current_system().close_handle(value);
    }
    owned_handle(owned_handle&& other) noexcept : value(std::exchange(other.value, 0)) {}
    owned_handle& operator=(owned_handle&&) = delete;
    owned_handle(const owned_handle&) = delete;
    owned_handle& operator=(const owned_handle&) = delete;

    platform::native_handle get() const { return value; }
    explicit operator bool() const { return value != 0; }

private:
    platform::native_handle value;
};

} // namespace tallowick
