#pragma once

#include "app/loss_watch.h"
#include "app/run_ledger.h"
#include "app/session_restore.h"

#include <rapidjson/document.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tallowick::app {

// The agent's own messages ("Event_Type":"AGENT"), sent only with an envelope,
// so that a collector learns in-band what the agent's standard error says.
// Flat objects of strings and whole numbers, like the events' messages.

struct options_in_force {
    std::string_view version;
    const std::vector<std::string>* monitored_paths = nullptr;
    const std::vector<std::string>* excluded_processes = nullptr;
    std::size_t max_datagram = 0;
};

// "STARTED": the version and the options in force. Lists are joined with "|",
// which no Windows file name contains.
rapidjson::Document started_message(const options_in_force& options);
// "STATUS", sent every minute: the ledger's figures so far.
rapidjson::Document status_message(const ledger_figures& figures);
// "EVENTS LOST": a session's loss counters grew.
rapidjson::Document events_lost_message(const loss_news& news);
// "SESSION RESTORED": a session changed or stopped from outside was put back.
rapidjson::Document session_restored_message(const session_restore& restore);
// "STOPPED", the run's last datagram: the summary's figures.
rapidjson::Document stopped_message(const ledger_figures& figures);

} // namespace tallowick::app
