#pragma once

#include <condition_variable>
#include <mutex>

namespace tallowick::testing {

// A one-time gate between two threads. std::latch is not used: the atomic wait
// beneath it in GCC 12's library can miss its wake-up where there is no futex
// (the mingw-w64 build), leaving the waiter blocked for good.
class gate {
  public:
    void open() {
        {
            const std::lock_guard lock(mutex_);
            open_ = true;
        }
        opened_.notify_all();
    }
    void wait() {
        std::unique_lock lock(mutex_);
        opened_.wait(lock, [&] { return open_; });
    }

  private:
    std::mutex mutex_;
    std::condition_variable opened_;
    bool open_ = false;
};

} // namespace tallowick::testing
