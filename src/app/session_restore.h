#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace tallowick::app {

// One outside change to a trace session of the agent's and its undoing, as the
// agent saw it. Every restore, of a stopped session or of a provider or flags
// changed in a running one, is told through restore_ledger::restored as one of these.
struct session_restore {
    std::string session;  // the session's name
    std::string provider; // the provider concerned; "" for the session itself or its flags
    std::string found;    // what was found: "was stopped from outside", "is no longer enabled", ...
    std::string done;     // what was done: "started again", "enabled again", "enable flags set again"
    std::chrono::system_clock::time_point noticed;
    std::chrono::system_clock::time_point restored;
    unsigned tries = 1; // the attempt that succeeded
};

// 'tallowick: trace session NAME: provider P is no longer enabled; enabled
// again': the session, the provider where one is concerned, what was found and
// what was done, with the tries where it took more than one.
std::string restore_line(const session_restore& restore);

// Where every restore is told: one standard error line each, and the count of
// the run summary. Any thread.
class restore_ledger {
  public:
    using line_writer = std::function<void(std::string_view)>;
    using restore_listener = std::function<void(const session_restore&)>;
    // `heard`, when given, hears of each restore too (the agent's own message).
    explicit restore_ledger(line_writer report, restore_listener heard = {})
        : report_(std::move(report)), heard_(std::move(heard)) {}

    void restored(const session_restore& restore);
    std::uint64_t count() const { return count_.load(); }

  private:
    line_writer report_;
    restore_listener heard_;
    std::atomic<std::uint64_t> count_{0};
};

} // namespace tallowick::app
