#pragma once

#include "app/session_restore.h"
#include "platform/guid.h"
#include "trace/trace_session.h"

#include <chrono>
#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

namespace tallowick::app {

// How often an outside change is tried to be undone before the run gives up
// (once per check for a change in a running session, a second apart for a
// session stopped from outside).
inline constexpr unsigned restore_tries = 3;

// Keeps the agent's running sessions as it set them up. Any administrator can
// disable our provider in our session, narrow its level or keywords, or clear
// the kernel session's enable flags without stopping it: no counter moves and
// records just stop. Each check (with the loss counters) finds such changes
// and undoes them, telling each through the ledger; a change that cannot be
// undone is tried again at the next checks. On the main thread.
class session_guard {
  public:
    // `provider_names` names the providers of the sessions for the lines.
    session_guard(std::vector<etw::trace_session*> sessions,
                  std::map<GUID, std::string, platform::guid_less> provider_names, restore_ledger& ledger);

    // Checks every session and undoes what it finds. Returns why the run must
    // end: a change not undone after `restore_tries` checks.
    std::optional<std::string> check();

  private:
    using finding_key = std::tuple<std::size_t, int, GUID>;
    struct finding_key_less {
        bool operator()(const finding_key& left, const finding_key& right) const;
    };
    struct attempt {
        std::chrono::system_clock::time_point noticed;
        unsigned tries = 0;
    };

    std::string provider_name(const GUID& guid) const;

    std::vector<etw::trace_session*> sessions_;
    std::map<GUID, std::string, platform::guid_less> provider_names_;
    restore_ledger& ledger_;
    std::map<finding_key, attempt, finding_key_less> attempts_; // changes seen and not yet undone
};

} // namespace tallowick::app
