#pragma once

#include <rapidjson/document.h>

#include <cstdint>
#include <optional>
#include <string_view>

namespace tallowick::monitor {

// The three messages a collector receives, each a flat JSON object whose
// members are added in wire order. String values are copied into the document.

// File-system message, first part: "id" and "proc". The path-event task starts
// it before its tests and drops it unsent when a test fails.
rapidjson::Document begin_file_system_message(int event_id, std::uint32_t process_id);

struct file_system_details {
    std::string_view operation;
    std::string_view filename;
    std::optional<std::string_view> path_type; // left out for deletions
    std::string_view process_name;
    std::string_view process_owner;
};
// The rest: "Operation", "Filename", ["Path_Type"], "Process_Name",
// "Process_Owner", "Event_Type" = "FILESYSTEM".
void complete_file_system_message(rapidjson::Document& message, const file_system_details& details);

rapidjson::Document file_system_message(int event_id, std::uint32_t process_id,
                                        const file_system_details& details);

struct process_started_details {
    std::string_view parent_process_name;
    std::string_view process_name;
    std::uint32_t process_id = 0;
    std::uint32_t parent_process_id = 0;
    std::string_view command_line;
    std::string_view user;
    std::string_view user_sid;
};
rapidjson::Document process_started_message(const process_started_details& details);

rapidjson::Document process_ended_message(std::string_view process_name, std::uint32_t process_id);

} // namespace tallowick::monitor
