#include "monitor/process_event_handler.h"

#include "console/console.h"
#include "monitor/lookups.h"
#include "monitor/messages.h"
#include "monitor/name_comparison.h"
#include "monitor/program_exclusion.h"
#include "platform/windows_facts.h"

#include <algorithm>
#include <cctype>
#include <string_view>

namespace tallowick::monitor {
namespace {

// The agent's own process list queries and the console hosts they start.
bool is_excluded_command_line(std::string_view command_line) {
    return command_line.starts_with("tasklist.exe /fo csv /nh /fi") ||
           command_line.ends_with("conhost.exe 0xffffffff -ForceV1");
}

// Byte by byte in the default "C" locale, so only A to Z change; the cast keeps
// bytes above 0x7F out of tolower's undefined negative range.
std::string lower_case(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
    return text;
}

bool is_default_excluded(std::string_view image, const event_scope& scope) {
    return std::any_of(scope.default_excluded_processes.begin(), scope.default_excluded_processes.end(),
                       [image](const excluded_program& entry) { return names_program(entry, image); });
}

bool is_started_by_agent(std::string_view parent_name, const event_scope& scope) {
    return std::any_of(
        scope.excluded_agent_images.begin(), scope.excluded_agent_images.end(),
        [parent_name](const std::string& agent) { return ends_at_name_boundary(parent_name, agent); });
}

void report_start(unsigned int process_id, const std::string& image_name, const std::string& command_line,
                  const etw::sid& user_sid, unsigned int parent_process_id, const event_scope& scope,
                  message_sink& sink, const std::optional<std::string>& parent_image, record_time when) {
    const std::string user = get_account_name(user_sid.sid_string);
    const std::string parent_name =
        lower_case(parent_image ? *parent_image : get_process_image_path(parent_process_id));
    if (is_started_by_agent(parent_name, scope))
        return;
    console::write_line("DEBUG PROCESS STARTED: " + std::to_string(process_id) + " " + image_name + " " +
                        command_line + " " + parent_name);
    rapidjson::Document message = process_started_message(
        {parent_name, image_name, process_id, parent_process_id, command_line, user, user_sid.sid_string});
    sink.send(message, message_kind::process_started, when);
}

void report_end(unsigned int process_id, const std::string& image_name, message_sink& sink,
                record_time when) {
    console::write_line("DEBUG PROCESS ENDED: " + std::to_string(process_id) + " " + image_name);
    rapidjson::Document message = process_ended_message(image_name, process_id);
    sink.send(message, message_kind::process_ended, when);
}

} // namespace

void handle_process_event(int opcode, unsigned int process_id, const std::string& command_line,
                          const std::string& image_file_name, const std::string& image_path,
                          const etw::sid& user_sid, unsigned int parent_process_id, const event_scope& scope,
                          message_sink& sink, const std::optional<std::string>& parent_image,
                          record_time when) {
    if (is_excluded_command_line(command_line))
        return;
    // Lowered first, so only built-in entries written in lower case can match;
    // the user's entries match in any case, as for file events. The kernel's
    // name is 15 characters at most and says nothing of the folder: it decides
    // only where the tracker could learn no path.
    const std::string image_name = lower_case(image_file_name);
    const bool path_known = image_path.find('\\') != std::string::npos;
    const std::string excluded_as = path_known ? lower_case(image_path) : image_name;
    if (is_default_excluded(excluded_as, scope) || is_user_excluded(excluded_as, scope.excluded_processes))
        return;
    if (opcode == platform::process_start_opcode)
        report_start(process_id, image_name, command_line, user_sid, parent_process_id, scope, sink,
                     parent_image, when);
    else if (opcode == platform::process_end_opcode)
        report_end(process_id, image_name, sink, when);
}

} // namespace tallowick::monitor
