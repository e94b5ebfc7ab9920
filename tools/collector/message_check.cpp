#include "collector/message_check.h"

#include <rapidjson/document.h>
#include <rapidjson/error/en.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <algorithm>
#include <array>
#include <vector>

namespace tallowick::collector {
namespace {

enum class json_kind { text, signed_number, unsigned_number };

struct member_rule {
    const char* key;
    json_kind kind;
};

constexpr std::array<member_rule, 8> file_members{{
    {"id", json_kind::signed_number},
    {"proc", json_kind::unsigned_number},
    {"Operation", json_kind::text},
    {"Filename", json_kind::text},
    {"Path_Type", json_kind::text},
    {"Process_Name", json_kind::text},
    {"Process_Owner", json_kind::text},
    {"Event_Type", json_kind::text},
}};

constexpr std::array<member_rule, 9> started_members{{
    {"Parent_Process_Name", json_kind::text},
    {"Operation", json_kind::text},
    {"Process_Name", json_kind::text},
    {"Process_ID", json_kind::unsigned_number},
    {"Parent_Process_ID", json_kind::unsigned_number},
    {"Command_Line", json_kind::text},
    {"Event_Type", json_kind::text},
    {"User", json_kind::text},
    {"User_SID", json_kind::text},
}};

constexpr std::array<member_rule, 4> ended_members{{
    {"Operation", json_kind::text},
    {"Process_Name", json_kind::text},
    {"Process_ID", json_kind::unsigned_number},
    {"Event_Type", json_kind::text},
}};

std::string text_of(const rapidjson::Value& object, const char* key) {
    const auto member = object.FindMember(key);
    if (member == object.MemberEnd() || !member->value.IsString())
        return {};
    return {member->value.GetString(), member->value.GetStringLength()};
}

// Checks that the members are exactly `rules`, in order, with their JSON types.
std::string check_members(const rapidjson::Value& object, const std::vector<member_rule>& rules) {
    if (object.MemberCount() != rules.size())
        return "expected " + std::to_string(rules.size()) + " members, found " +
               std::to_string(object.MemberCount());
    auto member = object.MemberBegin();
    for (const member_rule& rule : rules) {
        const std::string_view key(member->name.GetString(), member->name.GetStringLength());
        if (key != rule.key)
            return "member \"" + std::string(key) + "\" where \"" + rule.key + "\" belongs";
        const rapidjson::Value& value = member->value;
        const bool type_ok = rule.kind == json_kind::text            ? value.IsString()
                             : rule.kind == json_kind::signed_number ? value.IsInt()
                                                                     : value.IsUint();
        if (!type_ok)
            return std::string("member \"") + rule.key + "\" has the wrong JSON type";
        ++member;
    }
    return {};
}

std::string check_file_message(const rapidjson::Value& object) {
    const auto id = object.FindMember("id");
    if (id == object.MemberEnd() || !id->value.IsInt())
        return "file message without a numeric \"id\"";
    const int event_id = id->value.GetInt();
    std::vector<member_rule> rules(file_members.begin(), file_members.end());
    if (event_id == 26)
        rules.erase(rules.begin() + 4); // deletions carry no path type
    if (std::string problem = check_members(object, rules); !problem.empty())
        return problem;

    const std::string operation = text_of(object, "Operation");
    static const std::array<const char*, 6> access_labels{"READ",   "WRITE",         "READ + WRITE",
                                                          "DELETE", "DELETE + READ", "DELETE + WRITE"};
    bool operation_ok = false;
    switch (event_id) {
    case 12:
        operation_ok =
            std::find(access_labels.begin(), access_labels.end(), operation) != access_labels.end();
        break;
    case 26:
        operation_ok = operation == "DELETE";
        break;
    case 27:
        operation_ok = operation == "RENAME";
        break;
    case 30:
        operation_ok = operation == "CREATED";
        break;
    default:
        return "file message with event id " + std::to_string(event_id);
    }
    if (!operation_ok)
        return "Operation \"" + operation + "\" does not belong to event " + std::to_string(event_id);
    if (event_id != 26) {
        const std::string path_type = text_of(object, "Path_Type");
        if (path_type != "FILE" && path_type != "N/A" && !(path_type == "DIR" && event_id != 12))
            return "Path_Type \"" + path_type + "\" for event " + std::to_string(event_id);
    }
    return {};
}

} // namespace

check_result check_message(std::string_view datagram) {
    check_result result;
    rapidjson::Document document;
    // Iterative, so that deep nesting costs heap rather than stack.
    document.Parse<rapidjson::kParseValidateEncodingFlag | rapidjson::kParseIterativeFlag>(datagram.data(),
                                                                                           datagram.size());
    if (document.HasParseError()) {
        result.problem =
            std::string("not valid UTF-8 JSON: ") + rapidjson::GetParseError_En(document.GetParseError());
        return result;
    }
    if (!document.IsObject()) {
        result.problem = "not a JSON object";
        return result;
    }
    // Every message is flat; the compact writer below recurses into nesting.
    for (auto member = document.MemberBegin(); member != document.MemberEnd(); ++member) {
        if (member->value.IsObject() || member->value.IsArray()) {
            result.problem = "member \"" +
                             std::string(member->name.GetString(), member->name.GetStringLength()) +
                             "\" is not a string or a number";
            return result;
        }
    }
    rapidjson::StringBuffer compact;
    rapidjson::Writer<rapidjson::StringBuffer> writer(compact);
    document.Accept(writer);
    if (std::string_view(compact.GetString(), compact.GetSize()) != datagram) {
        result.problem = "not in compact form";
        return result;
    }

    result.kind.event_type = text_of(document, "Event_Type");
    result.kind.operation = text_of(document, "Operation");
    if (result.kind.event_type == "FILESYSTEM") {
        result.problem = check_file_message(document);
    } else if (result.kind.event_type == "PROCESS" && result.kind.operation == "PROCESS STARTED") {
        result.problem = check_members(document, {started_members.begin(), started_members.end()});
    } else if (result.kind.event_type == "PROCESS" && result.kind.operation == "PROCESS ENDED") {
        result.problem = check_members(document, {ended_members.begin(), ended_members.end()});
    } else {
        result.problem = "unknown message kind (Event_Type \"" + result.kind.event_type + "\", Operation \"" +
                         result.kind.operation + "\")";
    }
    return result;
}

} // namespace tallowick::collector
