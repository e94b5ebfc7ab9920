#include "collector/run_tracker.h"

#include "collector/safe_text.h"

#include <algorithm>

namespace tallowick::collector {

void run_tracker::take(const check_result& checked) {
    if (!checked.ok() || !checked.envelope)
        return;
    run& tracked = runs_[checked.envelope->run_id];
    tracked.host = checked.envelope->host;
    if (!tracked.seen.insert(checked.envelope->sequence).second)
        ++tracked.repeated;
    if (checked.envelope->shortened)
        ++tracked.shortened;
    if (checked.stopped) {
        tracked.stopped = checked.stopped;
        tracked.stopped_at = checked.envelope->sequence;
    }
}

std::vector<std::string> run_tracker::summary() const {
    std::vector<std::string> lines;
    for (const auto& [run_id, tracked] : runs_) {
        // The STOPPED message is the last the agent numbers; without it the
        // highest number that arrived is all we know.
        const std::uint64_t highest = std::max(tracked.stopped_at, *tracked.seen.rbegin());
        const std::uint64_t missing = highest - tracked.seen.size();
        std::string line = "run " + run_id + " on " + escaped_bytes(tracked.host) + ": " +
                           std::to_string(tracked.seen.size()) + " of sequence 1 to " +
                           std::to_string(highest) + " arrived, missing " + std::to_string(missing);
        if (tracked.repeated != 0)
            line += ", " + std::to_string(tracked.repeated) + " repeated";
        if (tracked.shortened != 0)
            line += ", " + std::to_string(tracked.shortened) + " shortened";
        if (tracked.stopped)
            line += "; STOPPED says " + std::to_string(tracked.stopped->datagrams_sent) +
                    " datagrams sent before it, " + std::to_string(tracked.stopped->send_failures) +
                    " send failures";
        else
            line += "; no STOPPED arrived (the run goes on, or its end is missing too)";
        lines.push_back(std::move(line));
    }
    return lines;
}

} // namespace tallowick::collector
