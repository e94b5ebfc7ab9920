#include "monitor/messages.h"

namespace tallowick::monitor {
namespace {
// Keys are literals the document refers to; values are copied.
template <std::size_t N>
void add_string(rapidjson::Document& message, const char (&key)[N], std::string_view value) {
    message.AddMember(rapidjson::StringRef(key),
                      rapidjson::Value(value.data(), static_cast<rapidjson::SizeType>(value.size()),
                                       message.GetAllocator()),
                      message.GetAllocator());
}

template <std::size_t N>
void add_constant(rapidjson::Document& message, const char (&key)[N], const char* value) {
    message.AddMember(rapidjson::StringRef(key), rapidjson::StringRef(value), message.GetAllocator());
}

template <std::size_t N, typename Number>
void add_number(rapidjson::Document& message, const char (&key)[N], Number value) {
    message.AddMember(rapidjson::StringRef(key), rapidjson::Value(value), message.GetAllocator());
}

rapidjson::Document empty_message() {
    return rapidjson::Document(rapidjson::kObjectType);
}
} // namespace

rapidjson::Document begin_file_system_message(int event_id, std::uint32_t process_id) {
    rapidjson::Document message = empty_message();
    add_number(message, "id", static_cast<std::int32_t>(event_id));
    add_number(message, "proc", static_cast<unsigned>(process_id));
    return message;
}

void complete_file_system_message(rapidjson::Document& message, const file_system_details& details) {
    add_string(message, "Operation", details.operation);
    add_string(message, "Filename", details.filename);
    if (details.path_type)
        add_string(message, "Path_Type", *details.path_type);
    add_string(message, "Process_Name", details.process_name);
    add_string(message, "Process_Owner", details.process_owner);
    add_constant(message, "Event_Type", "FILESYSTEM");
}

rapidjson::Document file_system_message(int event_id, std::uint32_t process_id,
                                        const file_system_details& details) {
    rapidjson::Document message = begin_file_system_message(event_id, process_id);
    complete_file_system_message(message, details);
    return message;
}

rapidjson::Document process_started_message(const process_started_details& details) {
    rapidjson::Document message = empty_message();
    add_string(message, "Parent_Process_Name", details.parent_process_name);
    add_constant(message, "Operation", "PROCESS STARTED");
    add_string(message, "Process_Name", details.process_name);
    add_number(message, "Process_ID", static_cast<unsigned>(details.process_id));
    add_number(message, "Parent_Process_ID", static_cast<unsigned>(details.parent_process_id));
    add_string(message, "Command_Line", details.command_line);
    add_constant(message, "Event_Type", "PROCESS");
    add_string(message, "User", details.user);
    add_string(message, "User_SID", details.user_sid);
    return message;
}

rapidjson::Document process_ended_message(std::string_view process_name, std::uint32_t process_id) {
    rapidjson::Document message = empty_message();
    add_constant(message, "Operation", "PROCESS ENDED");
    add_string(message, "Process_Name", process_name);
    add_number(message, "Process_ID", static_cast<unsigned>(process_id));
    add_constant(message, "Event_Type", "PROCESS");
    return message;
}

} // namespace tallowick::monitor
