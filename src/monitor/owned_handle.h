#pragma once

#include "platform/system_api.h"

#include <utility>

namespace tallowick::monitor {

// A process or token handle closed through the installed system when it goes
// out of scope, so every way out of a lookup releases it.
class owned_handle {
  public:
    explicit owned_handle(platform::native_handle handle) : value_(handle) {}
    ~owned_handle() {
        if (value_ != 0)
            platform::current_system().close_handle(value_);
    }
    owned_handle(owned_handle&& other) noexcept : value_(std::exchange(other.value_, 0)) {}
    owned_handle& operator=(owned_handle&&) = delete;
    owned_handle(const owned_handle&) = delete;
    owned_handle& operator=(const owned_handle&) = delete;

    platform::native_handle get() const { return value_; }
    explicit operator bool() const { return value_ != 0; }

  private:
    platform::native_handle value_;
};

} // namespace tallowick::monitor
