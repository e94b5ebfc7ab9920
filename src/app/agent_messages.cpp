#include "app/agent_messages.h"

#include "app/event_time_text.h"
#include "platform/filetime.h"

#include <chrono>

namespace tallowick::app {
namespace {
void add_text(rapidjson::Document& message, const char* key, std::string_view value) {
    // An empty view may have no data at all, which the document refuses.
    message.AddMember(rapidjson::StringRef(key),
                      rapidjson::Value(value.empty() ? "" : value.data(),
                                       static_cast<rapidjson::SizeType>(value.size()),
                                       message.GetAllocator()),
                      message.GetAllocator());
}

void add_count(rapidjson::Document& message, const char* key, std::uint64_t value) {
    message.AddMember(rapidjson::StringRef(key), rapidjson::Value(value), message.GetAllocator());
}

std::int64_t filetime_of(std::chrono::system_clock::time_point when) {
    return platform::filetime_of_unix_epoch +
           std::chrono::duration_cast<std::chrono::nanoseconds>(when.time_since_epoch()).count() / 100;
}

rapidjson::Document agent_message(const char* operation) {
    rapidjson::Document message(rapidjson::kObjectType);
    message.AddMember("Event_Type", "AGENT", message.GetAllocator());
    message.AddMember("Operation", rapidjson::StringRef(operation), message.GetAllocator());
    return message;
}

std::string joined(const std::vector<std::string>* list) {
    std::string text;
    if (list == nullptr)
        return text;
    for (const std::string& item : *list) {
        if (!text.empty())
            text += '|';
        text += item;
    }
    return text;
}

void add_figures(rapidjson::Document& message, const ledger_figures& figures) {
    add_count(message, "Datagrams_Sent", figures.datagrams_sent());
    add_count(message, "File_System_Sent", figures.sent_of(datagram_kind::file_system));
    add_count(message, "Process_Start_Sent", figures.sent_of(datagram_kind::process_started));
    add_count(message, "Process_End_Sent", figures.sent_of(datagram_kind::process_ended));
    add_count(message, "Agent_Sent", figures.sent_of(datagram_kind::agent));
    add_count(message, "Messages_Shortened", figures.shortened);
    add_count(message, "Send_Failures", figures.send_failures);
    add_count(message, "Console_Lines_Dropped", figures.console_lines_dropped);
    session_loss lost;
    for (const session_figures& session : figures.sessions) {
        lost.events += session.lost.events;
        lost.buffers += session.lost.buffers;
        lost.records += session.lost.records;
    }
    add_count(message, "Events_Lost", lost.events);
    add_count(message, "Buffers_Lost", lost.buffers);
    add_count(message, "Loss_Records", lost.records);
}
} // namespace

rapidjson::Document started_message(const options_in_force& options) {
    rapidjson::Document message = agent_message("STARTED");
    add_text(message, "Version", options.version);
    add_text(message, "Monitored_Paths", joined(options.monitored_paths));
    add_text(message, "Excluded_Processes", joined(options.excluded_processes));
    add_count(message, "Max_Datagram", options.max_datagram);
    return message;
}

rapidjson::Document status_message(const ledger_figures& figures) {
    rapidjson::Document message = agent_message("STATUS");
    add_figures(message, figures);
    return message;
}

rapidjson::Document events_lost_message(const loss_news& news) {
    rapidjson::Document message = agent_message("EVENTS LOST");
    add_text(message, "Session", news.session);
    add_count(message, "Events_Lost", news.new_losses.events);
    add_count(message, "Events_Lost_Total", news.total.events);
    add_count(message, "Buffers_Lost", news.new_losses.buffers);
    add_count(message, "Buffers_Lost_Total", news.total.buffers);
    add_count(message, "Loss_Records", news.new_losses.records);
    add_count(message, "Loss_Records_Total", news.total.records);
    return message;
}

rapidjson::Document session_restored_message(const session_restore& restore) {
    rapidjson::Document message = agent_message("SESSION RESTORED");
    add_text(message, "Session", restore.session);
    add_text(message, "Provider", restore.provider);
    add_text(message, "Found", restore.found);
    add_text(message, "Done", restore.done);
    add_text(message, "Noticed_Time", event_time_text(filetime_of(restore.noticed)));
    add_text(message, "Restored_Time", event_time_text(filetime_of(restore.restored)));
    add_count(message, "Tries", restore.tries);
    return message;
}

rapidjson::Document stopped_message(const ledger_figures& figures) {
    rapidjson::Document message = agent_message("STOPPED");
    add_figures(message, figures);
    return message;
}

} // namespace tallowick::app
