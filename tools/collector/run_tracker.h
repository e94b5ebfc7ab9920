#pragma once

#include "collector/message_check.h"

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace tallowick::collector {

// Follows the sequence of every run whose enveloped messages arrive, so that a
// datagram lost anywhere between the agent and here shows as a gap.
class run_tracker {
  public:
    // A checked message; one without an envelope is not followed.
    void take(const check_result& checked);

    // One line per run: what arrived, what is missing, and what the agent's
    // STOPPED says it sent.
    std::vector<std::string> summary() const;

  private:
    struct run {
        std::string host;
        std::set<std::uint64_t> seen;
        std::uint64_t repeated = 0;
        std::uint64_t shortened = 0;
        std::optional<stopped_figures> stopped;
        std::uint64_t stopped_at = 0; // the STOPPED message's own sequence
    };
    std::map<std::string, run> runs_;
};

} // namespace tallowick::collector
