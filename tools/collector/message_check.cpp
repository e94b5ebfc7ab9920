#include "collector/message_check.h"

#include "collector/schema_texts.h"

#include <rapidjson/document.h>
#include <rapidjson/error/en.h>
#include <rapidjson/schema.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <algorithm>
#include <array>
#include <map>
#include <memory>
#include <stdexcept>
#include <vector>

namespace tallowick::collector {
namespace {

std::string text_of(const rapidjson::Value& object, const char* key) {
    const auto member = object.FindMember(key);
    if (member == object.MemberEnd() || !member->value.IsString())
        return {};
    return {member->value.GetString(), member->value.GetStringLength()};
}

// One schema: its document, compiled, and the order of its properties, which
// is the order of the members on the wire.
struct kind_schema {
    rapidjson::Document source;
    std::unique_ptr<rapidjson::SchemaDocument> compiled;
    std::vector<std::string> order;
};

// Every schema, compiled once; the kinds refer to the envelope's definitions.
class schema_library final : public rapidjson::IRemoteSchemaDocumentProvider {
  public:
    schema_library() {
        envelope_ = load("envelope.schema.json");
        for (const char* name :
             {"filesystem.schema.json", "process-started.schema.json", "process-ended.schema.json",
              "agent-started.schema.json", "agent-status.schema.json", "agent-events-lost.schema.json",
              "agent-session-restored.schema.json", "agent-stopped.schema.json"})
            kinds_.emplace(name, load(name));
    }

    const rapidjson::SchemaDocument* GetRemoteDocument(const char* uri, rapidjson::SizeType length) override {
        // RapidJSON 1.1.0 hands over the name without its last character;
        // later versions hand it whole.
        constexpr std::string_view envelope_name = "envelope.schema.json";
        const std::string_view name(uri, length);
        const bool envelope = name == envelope_name ||
                              (name.size() + 1 == envelope_name.size() && envelope_name.starts_with(name));
        return envelope ? envelope_->compiled.get() : nullptr;
    }

    const kind_schema* find(const std::string& name) const {
        const auto found = kinds_.find(name);
        return found == kinds_.end() ? nullptr : found->second.get();
    }

  private:
    std::unique_ptr<kind_schema> load(const char* name) {
        auto schema = std::make_unique<kind_schema>();
        const std::string_view text = schema_text(name);
        schema->source.Parse(text.data(), text.size());
        if (schema->source.HasParseError() || !schema->source.IsObject())
            throw std::logic_error(std::string("schema ") + name + " is not a JSON object");
        if (const auto properties = schema->source.FindMember("properties");
            properties != schema->source.MemberEnd() && properties->value.IsObject())
            for (const auto& property : properties->value.GetObject())
                schema->order.emplace_back(property.name.GetString(), property.name.GetStringLength());
        schema->compiled = std::make_unique<rapidjson::SchemaDocument>(schema->source, this);
        return schema;
    }

    std::unique_ptr<kind_schema> envelope_;
    std::map<std::string, std::unique_ptr<kind_schema>> kinds_;
};

const schema_library& schemas() {
    static const schema_library library;
    return library;
}

// The schema file of the kind a message says it is, or empty.
std::string schema_name(const message_kind& kind) {
    if (kind.event_type == "FILESYSTEM")
        return "filesystem.schema.json";
    if (kind.event_type == "PROCESS" && kind.operation == "PROCESS STARTED")
        return "process-started.schema.json";
    if (kind.event_type == "PROCESS" && kind.operation == "PROCESS ENDED")
        return "process-ended.schema.json";
    if (kind.event_type == "AGENT") {
        static const std::map<std::string, std::string> agent_kinds{
            {"STARTED", "agent-started.schema.json"},
            {"STATUS", "agent-status.schema.json"},
            {"EVENTS LOST", "agent-events-lost.schema.json"},
            {"SESSION RESTORED", "agent-session-restored.schema.json"},
            {"STOPPED", "agent-stopped.schema.json"}};
        const auto found = agent_kinds.find(kind.operation);
        return found == agent_kinds.end() ? "" : found->second;
    }
    return "";
}

std::string pointer_text(const rapidjson::Pointer& pointer) {
    rapidjson::StringBuffer text;
    pointer.StringifyUriFragment(text);
    return {text.GetString(), text.GetSize()};
}

std::string validate(const rapidjson::Document& document, const kind_schema& schema) {
    rapidjson::SchemaValidator validator(*schema.compiled);
    if (document.Accept(validator))
        return {};
    const std::string where = pointer_text(validator.GetInvalidDocumentPointer());
    return std::string("not valid against its schema: \"") + validator.GetInvalidSchemaKeyword() + "\" at " +
           (where == "#" ? "the message" : where);
}

// The schema says which members and types; their order it cannot say.
std::string check_order(const rapidjson::Document& document, const kind_schema& schema) {
    std::size_t next = 0;
    for (const auto& member : document.GetObject()) {
        const std::string_view key(member.name.GetString(), member.name.GetStringLength());
        const auto at =
            std::find(schema.order.begin() + static_cast<std::ptrdiff_t>(next), schema.order.end(), key);
        if (at == schema.order.end())
            return "member \"" + std::string(key) + "\" out of order";
        next = static_cast<std::size_t>(at - schema.order.begin()) + 1;
    }
    return {};
}

// Which Operation and Path_Type go with which event id.
std::string check_file_pairings(const rapidjson::Document& document) {
    const int event_id = document["id"].GetInt();
    const std::string operation = text_of(document, "Operation");
    const bool has_path_type = document.HasMember("Path_Type");
    if (event_id == 26 && has_path_type)
        return "a deletion (event 26) carries no Path_Type";
    if (event_id != 26 && !has_path_type)
        return "event " + std::to_string(event_id) + " without Path_Type";
    static const std::array<const char*, 6> access_labels{"READ",   "WRITE",         "READ + WRITE",
                                                          "DELETE", "DELETE + READ", "DELETE + WRITE"};
    const bool operation_ok = event_id == 12   ? std::find(access_labels.begin(), access_labels.end(),
                                                           operation) != access_labels.end()
                              : event_id == 26 ? operation == "DELETE"
                              : event_id == 27 ? operation == "RENAME"
                                               : operation == "CREATED";
    if (!operation_ok)
        return "Operation \"" + operation + "\" does not belong to event " + std::to_string(event_id);
    if (event_id == 12 && text_of(document, "Path_Type") == "DIR")
        return "Path_Type \"DIR\" for event 12";
    return {};
}

void read_envelope(const rapidjson::Document& document, check_result& result) {
    const auto sequence = document.FindMember("Sequence");
    if (sequence == document.MemberEnd() || !sequence->value.IsUint64())
        return;
    result.envelope = envelope_seen{text_of(document, "Run_Id"), text_of(document, "Host"),
                                    sequence->value.GetUint64(), document.HasMember("Shortened")};
    if (result.kind.event_type == "AGENT" && result.kind.operation == "STOPPED")
        result.stopped =
            stopped_figures{document["Datagrams_Sent"].GetUint64(), document["Send_Failures"].GetUint64()};
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
    // Every message is flat; the writer and the validator below recurse into nesting.
    for (auto member = document.MemberBegin(); member != document.MemberEnd(); ++member) {
        if (member->value.IsObject() || member->value.IsArray()) {
            result.problem = "member \"" +
                             std::string(member->name.GetString(), member->name.GetStringLength()) +
                             "\" is not a string, a number or true";
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
    const kind_schema* schema = schemas().find(schema_name(result.kind));
    if (schema == nullptr) {
        result.problem = "unknown message kind (Event_Type \"" + result.kind.event_type + "\", Operation \"" +
                         result.kind.operation + "\")";
        return result;
    }
    result.problem = validate(document, *schema);
    if (result.problem.empty())
        result.problem = check_order(document, *schema);
    if (result.problem.empty() && result.kind.event_type == "FILESYSTEM")
        result.problem = check_file_pairings(document);
    if (result.problem.empty())
        read_envelope(document, result);
    return result;
}

} // namespace tallowick::collector
