#include "platform/simulated/scenario.h"

#include "platform/simulated/sid_text.h"
#include "platform/utf_codec.h"
#include "platform/windows_facts.h"

#include <rapidjson/document.h>
#include <rapidjson/error/en.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <fstream>
#include <limits>
#include <set>
#include <sstream>

namespace tallowick::platform::simulated {
namespace {

using json = rapidjson::Value;

std::string escape_pointer_token(std::string_view token) {
    std::string escaped;
    for (char c : token) {
        if (c == '~')
            escaped += "~0";
        else if (c == '/')
            escaped += "~1";
        else
            escaped += c;
    }
    return escaped;
}

std::optional<std::uint64_t> parse_hex(std::string_view text) {
    if (text.size() < 3 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X'))
        return std::nullopt;
    std::uint64_t value = 0;
    const char* first = text.data() + 2;
    const char* last = text.data() + text.size();
    const auto [end, error] = std::from_chars(first, last, value, 16);
    if (error != std::errc() || end != last)
        return std::nullopt;
    return value;
}

// Reads the members of one JSON object, remembering which keys were used, so
// that a key nobody asked for (a typo) is reported instead of passing silently.
class object_reader {
  public:
    object_reader(const json& value, std::string place) : value_(value), place_(std::move(place)) {
        if (!value.IsObject())
            throw scenario_error(where(), "expected an object");
    }

    std::string where() const { return place_.empty() ? "/" : place_; }
    std::string where(std::string_view key) const { return place_ + "/" + escape_pointer_token(key); }

    bool has(const char* key) const { return value_.HasMember(key); }

    const json* find(const char* key) {
        used_.insert(key);
        const auto member = value_.FindMember(key);
        return member == value_.MemberEnd() ? nullptr : &member->value;
    }

    const json& require(const char* key) {
        const json* found = find(key);
        if (found == nullptr)
            throw scenario_error(where(key), "required");
        return *found;
    }

    std::uint64_t number(const char* key, std::uint64_t limit, std::uint64_t fallback,
                         bool required = false) {
        const json* found = required ? &require(key) : find(key);
        if (found == nullptr)
            return fallback;
        return number_value(*found, where(key), limit);
    }

    std::string text(const char* key, std::string fallback, bool required = false) {
        const json* found = required ? &require(key) : find(key);
        if (found == nullptr)
            return fallback;
        if (!found->IsString())
            throw scenario_error(where(key), "expected a string");
        return {found->GetString(), found->GetStringLength()};
    }

    bool boolean(const char* key, bool fallback) {
        const json* found = find(key);
        if (found == nullptr)
            return fallback;
        if (!found->IsBool())
            throw scenario_error(where(key), "expected true or false");
        return found->GetBool();
    }

    const json& array(const char* key) {
        const json& found = require(key);
        if (!found.IsArray())
            throw scenario_error(where(key), "expected an array");
        return found;
    }

    void finish() const {
        for (auto member = value_.MemberBegin(); member != value_.MemberEnd(); ++member) {
            const std::string key(member->name.GetString(), member->name.GetStringLength());
            if (used_.count(key) == 0)
                throw scenario_error(where(key), "unknown key");
        }
    }

    static std::uint64_t number_value(const json& value, const std::string& place, std::uint64_t limit) {
        if (value.IsUint64()) {
            if (value.GetUint64() > limit)
                throw scenario_error(place, "out of range (at most " + std::to_string(limit) + ")");
            return value.GetUint64();
        }
        throw scenario_error(place, "expected a whole number from 0 to " + std::to_string(limit));
    }

  private:
    const json& value_;
    std::string place_;
    std::set<std::string> used_;
};

constexpr std::uint64_t u8_max = 0xFF;
constexpr std::uint64_t u16_max = 0xFFFF;
constexpr std::uint64_t u32_max = 0xFFFFFFFF;
constexpr std::uint64_t u64_max = std::numeric_limits<std::uint64_t>::max();

GUID guid_at(object_reader& reader, const char* key) {
    const std::string text = reader.text(key, "", true);
    const auto guid = parse_guid(text);
    if (!guid)
        throw scenario_error(reader.where(key), "expected a GUID as 36 characters without braces");
    return *guid;
}

std::string sid_at(object_reader& reader, const char* key, std::string fallback, bool required) {
    std::string text = reader.text(key, std::move(fallback), required);
    if (!sid_from_text(text))
        throw scenario_error(reader.where(key), "expected a SID such as S-1-5-18");
    return text;
}

template <typename Item, typename Read>
std::vector<Item> read_list(object_reader& parent, const char* key, std::vector<Item> fallback, Read read) {
    if (!parent.has(key)) {
        parent.find(key);
        return fallback;
    }
    const json& list = parent.array(key);
    std::vector<Item> items;
    for (rapidjson::SizeType i = 0; i < list.Size(); ++i) {
        object_reader item(list[i], parent.where(key) + "/" + std::to_string(i));
        items.push_back(read(item));
        item.finish();
    }
    return items;
}

machine_config read_machine(object_reader& reader) {
    machine_config machine;
    if (const json* version = reader.find("windows_version")) {
        const std::string place = reader.where("windows_version");
        if (!version->IsString())
            throw scenario_error(place, "expected \"MAJOR.MINOR\"");
        const std::string_view text(version->GetString(), version->GetStringLength());
        const std::size_t dot = text.find('.');
        std::uint32_t major = 0;
        std::uint32_t minor = 0;
        const auto parse_part = [&](std::string_view part, std::uint32_t& out) {
            const auto [end, error] = std::from_chars(part.data(), part.data() + part.size(), out);
            return !part.empty() && error == std::errc() && end == part.data() + part.size();
        };
        if (dot == std::string_view::npos || !parse_part(text.substr(0, dot), major) ||
            !parse_part(text.substr(dot + 1), minor))
            throw scenario_error(place, "expected \"MAJOR.MINOR\", e.g. \"10.0\"");
        machine.major_version = major;
        machine.minor_version = minor;
    }
    machine.admin = reader.boolean("admin", machine.admin);
    machine.inventory.agent_user_sid =
        sid_at(reader, "agent_user_sid", machine.inventory.agent_user_sid, false);
    machine.inventory.host_name = reader.text("host_name", machine.inventory.host_name);
    machine.inventory.debug_privilege = reader.boolean("debug_privilege", machine.inventory.debug_privilege);
    machine.trace_session_limit = static_cast<std::uint32_t>(
        reader.number("trace_session_limit", u32_max, machine.trace_session_limit));
    machine.session_start_delay_ms = static_cast<std::uint32_t>(
        reader.number("session_start_delay_ms", u32_max, machine.session_start_delay_ms));
    if (const json* delivery = reader.find("delivery")) {
        const std::string_view text =
            delivery->IsString() ? std::string_view(delivery->GetString(), delivery->GetStringLength())
                                 : std::string_view();
        if (text == "synchronous")
            machine.delivery = delivery_mode::synchronous;
        else if (text == "real_time")
            machine.delivery = delivery_mode::real_time;
        else
            throw scenario_error(reader.where("delivery"), "expected \"synchronous\" or \"real_time\"");
    }
    machine.running_sessions =
        read_list<running_session>(reader, "running_sessions", {}, [](object_reader& item) {
            running_session session;
            session.name = item.text("name", "", true);
            session.stop_status = static_cast<std::uint32_t>(item.number("stop_status", u32_max, 0));
            session.enable_flags = static_cast<std::uint32_t>(item.number("enable_flags", u32_max, 0));
            session.clock_ahead_ms = static_cast<std::uint32_t>(item.number("clock_ahead_ms", u32_max, 0));
            if (item.has("providers")) {
                const json& list = item.array("providers");
                for (rapidjson::SizeType i = 0; i < list.Size(); ++i) {
                    const std::string place = item.where("providers") + "/" + std::to_string(i);
                    const auto guid = list[i].IsString()
                                          ? parse_guid({list[i].GetString(), list[i].GetStringLength()})
                                          : std::nullopt;
                    if (!guid)
                        throw scenario_error(place, "expected a GUID of 36 characters without braces");
                    session.providers.push_back(*guid);
                }
            }
            return session;
        });
    machine.providers =
        read_list<registered_provider>(reader, "providers", machine.providers, [](object_reader& item) {
            registered_provider provider;
            provider.name = item.text("name", "", true);
            provider.guid = guid_at(item, "guid");
            return provider;
        });
    machine.inventory.volumes =
        read_list<volume_entry>(reader, "volumes", machine.inventory.volumes, [](object_reader& item) {
            return volume_entry{item.text("device", "", true), item.text("root", "", true)};
        });
    machine.inventory.accounts =
        read_list<account_entry>(reader, "accounts", machine.inventory.accounts, [](object_reader& item) {
            account_entry entry;
            entry.sid = sid_at(item, "sid", "", true);
            entry.name = item.text("name", "", true);
            entry.domain = item.text("domain", "");
            return entry;
        });
    machine.inventory.processes = read_list<process_entry>(reader, "processes", {}, [](object_reader& item) {
        process_entry entry;
        entry.pid = static_cast<std::uint32_t>(item.number("pid", u32_max, 0, true));
        entry.image = item.text("image", "", true);
        entry.user_sid = sid_at(item, "user_sid", "S-1-5-18", false);
        entry.parent_pid = static_cast<std::uint32_t>(item.number("parent_pid", u32_max, 0));
        entry.command_line = item.text("command_line", "");
        const std::string access = item.text("access", "full");
        if (access == "full")
            entry.access = process_access::full;
        else if (access == "limited")
            entry.access = process_access::limited;
        else if (access == "denied")
            entry.access = process_access::denied;
        else if (access == "gone")
            entry.access = process_access::gone;
        else
            throw scenario_error(item.where("access"),
                                 "expected \"full\", \"limited\", \"denied\" or \"gone\"");
        return entry;
    });
    machine.inventory.files = read_list<file_entry>(reader, "files", {}, [](object_reader& item) {
        file_entry entry;
        entry.path = item.text("path", "", true);
        const std::string type = item.text("type", "", true);
        if (type == "dir")
            entry.type = file_type::dir;
        else if (type == "file")
            entry.type = file_type::file;
        else if (type == "other")
            entry.type = file_type::other;
        else
            throw scenario_error(item.where("type"), "expected \"dir\", \"file\" or \"other\"");
        return entry;
    });
    return machine;
}

std::uint64_t number_or_hex(object_reader& reader, const char* key, std::uint64_t limit,
                            std::uint64_t fallback, bool required = false) {
    const json* found = required ? &reader.require(key) : reader.find(key);
    if (found == nullptr)
        return fallback;
    if (found->IsString()) {
        const auto value = parse_hex({found->GetString(), found->GetStringLength()});
        if (!value || *value > limit)
            throw scenario_error(reader.where(key), "expected a number or \"0x...\" text");
        return *value;
    }
    return object_reader::number_value(*found, reader.where(key), limit);
}

std::u16string wide(const std::string& text) {
    return utf8_to_utf16(text);
}

record_property read_property(object_reader& item) {
    static const std::pair<const char*, property_type> types[] = {
        {"uint8", property_type::uint8},     {"uint16", property_type::uint16},
        {"uint32", property_type::uint32},   {"uint64", property_type::uint64},
        {"int32", property_type::int32},     {"pointer", property_type::pointer},
        {"unicode", property_type::unicode}, {"ansi", property_type::ansi},
        {"sid", property_type::sid},         {"wbemsid", property_type::wbemsid},
        {"bytes", property_type::bytes},
    };
    record_property property;
    property.name = wide(item.text("name", "", true));
    const std::string type = item.text("type", "", true);
    bool known = false;
    for (const auto& [type_name, value] : types) {
        if (type == type_name) {
            property.type = value;
            known = true;
        }
    }
    if (!known)
        throw scenario_error(item.where("type"), "unknown property type \"" + type + "\"");

    const json& value = item.require("value");
    const std::string place = item.where("value");
    const auto string_value = [&]() {
        if (!value.IsString())
            throw scenario_error(place, "expected a string");
        return std::string(value.GetString(), value.GetStringLength());
    };
    switch (property.type) {
    case property_type::uint8:
        property.number = object_reader::number_value(value, place, u8_max);
        break;
    case property_type::uint16:
        property.number = object_reader::number_value(value, place, u16_max);
        break;
    case property_type::uint32:
        property.number = object_reader::number_value(value, place, u32_max);
        break;
    case property_type::uint64:
    case property_type::pointer:
        property.number = number_or_hex(item, "value", u64_max, 0);
        break;
    case property_type::int32:
        if (!value.IsInt())
            throw scenario_error(place, "expected a signed 32-bit number");
        property.number = static_cast<std::uint32_t>(value.GetInt());
        break;
    case property_type::unicode:
        property.text = wide(string_value());
        break;
    case property_type::ansi:
        property.narrow = string_value();
        break;
    case property_type::sid:
    case property_type::wbemsid:
        property.narrow = string_value();
        if (!sid_from_text(property.narrow))
            throw scenario_error(place, "expected a SID such as S-1-5-18");
        break;
    case property_type::bytes: {
        const std::string hex = string_value();
        if (hex.size() % 2 != 0)
            throw scenario_error(place, "expected an even number of hexadecimal digits");
        for (std::size_t i = 0; i < hex.size(); i += 2) {
            unsigned byte = 0;
            const auto [end, error] = std::from_chars(hex.data() + i, hex.data() + i + 2, byte, 16);
            if (error != std::errc() || end != hex.data() + i + 2)
                throw scenario_error(place, "expected an even number of hexadecimal digits");
            property.bytes.push_back(static_cast<std::byte>(byte));
        }
        break;
    }
    }
    return property;
}

record_description read_record(object_reader& reader) {
    record_description record;
    const std::string provider = reader.text("provider", "", true);
    if (provider == "kernel_process") {
        record.header.provider = process_guid;
    } else if (const auto guid = parse_guid(provider)) {
        record.header.provider = *guid;
    } else {
        throw scenario_error(reader.where("provider"), "expected a GUID or \"kernel_process\"");
    }
    record.header.id = static_cast<std::uint16_t>(reader.number("id", u16_max, 0));
    record.header.version = static_cast<std::uint8_t>(reader.number("version", u8_max, 0));
    record.header.opcode = static_cast<std::uint8_t>(reader.number("opcode", u8_max, 0));
    record.header.level = static_cast<std::uint8_t>(reader.number("level", u8_max, 4));
    record.header.keywords = number_or_hex(reader, "keywords", u64_max, 0);
    record.header.process_id = static_cast<std::uint32_t>(reader.number("pid", u32_max, 0));
    record.header.flags = static_cast<std::uint16_t>(number_or_hex(reader, "header_flags", u16_max, 0x0040));
    const std::string schema = reader.text("schema", "known");
    if (schema != "known" && schema != "unknown")
        throw scenario_error(reader.where("schema"), "expected \"known\" or \"unknown\"");
    record.schema_known = schema == "known";
    record.properties = read_list<record_property>(reader, "properties", {}, read_property);
    if (reader.has("truncate"))
        record.truncate = static_cast<std::size_t>(reader.number("truncate", u16_max, 0));
    return record;
}

file_event read_file_step(object_reader& body, std::string_view kind) {
    file_event file;
    file.id = kind == "file_open"     ? file_create_event
              : kind == "file_delete" ? file_delete_path_event
              : kind == "file_rename" ? file_rename_path_event
                                      : file_create_new_file_event;
    file.process_id = static_cast<std::uint32_t>(body.number("pid", u32_max, 0, true));
    file.name = wide(body.text("name", "", true));
    if (file.id == file_create_event)
        file.share_access = static_cast<std::uint32_t>(body.number("share_access", u32_max, 0, true));
    file.version = static_cast<std::uint8_t>(body.number("version", u8_max, 1));
    return file;
}

// Repeats nest at most this deep: deeper is no burst anyone plays, and the
// reading recurses.
constexpr unsigned max_repeat_depth = 8;

// A provider by its GUID, or by a name the machine registers (in any case).
GUID provider_at(object_reader& body, const std::vector<registered_provider>& providers) {
    const std::string given = body.text("provider", "", true);
    if (const auto guid = parse_guid(given))
        return *guid;
    for (const registered_provider& registered : providers) {
        const bool same = registered.name.size() == given.size() &&
                          std::equal(given.begin(), given.end(), registered.name.begin(), [](char a, char b) {
                              return std::tolower(static_cast<unsigned char>(a)) ==
                                     std::tolower(static_cast<unsigned char>(b));
                          });
        if (same)
            return registered.guid;
    }
    throw scenario_error(body.where("provider"), "expected a GUID or the name of a provider of the machine");
}

outside_step read_outside_step(object_reader& body, const std::vector<registered_provider>& providers) {
    static const char* const acts[] = {"stop_session", "disable_provider", "enable_provider",
                                       "set_enable_flags"};
    const char* chosen = nullptr;
    for (const char* act : acts) {
        if (body.has(act)) {
            if (chosen != nullptr)
                throw scenario_error(body.where(),
                                     std::string("an outside step does exactly one thing; found \"") +
                                         chosen + "\" and \"" + act + "\"");
            chosen = act;
        }
    }
    if (chosen == nullptr)
        throw scenario_error(body.where(), "an outside step needs one of stop_session, disable_provider, "
                                           "enable_provider, set_enable_flags");
    outside_step outside;
    const std::string_view act = chosen;
    if (act == "stop_session") {
        outside.what = outside_step::act::stop_session;
        outside.session = body.text("stop_session", "", true);
        return outside;
    }
    object_reader target(body.require(chosen), body.where(chosen));
    outside.session = target.text("session", "", true);
    if (act == "set_enable_flags") {
        outside.what = outside_step::act::set_enable_flags;
        outside.flags = static_cast<std::uint32_t>(number_or_hex(target, "flags", u32_max, 0, true));
    } else {
        outside.provider = provider_at(target, providers);
        if (act == "enable_provider") {
            outside.what = outside_step::act::enable_provider;
            outside.any_keywords = number_or_hex(target, "any_keywords", u64_max, 0, true);
            outside.level = static_cast<std::uint8_t>(target.number("level", u8_max, 0, true));
        } else {
            outside.what = outside_step::act::disable_provider;
        }
    }
    target.finish();
    return outside;
}

step read_step(object_reader& item, unsigned depth, const std::vector<registered_provider>& providers) {
    step result;
    result.delay_ms = static_cast<std::uint32_t>(item.number("delay_ms", u32_max, 0));
    static const char* const kinds[] = {
        "file_open", "file_delete", "file_rename",  "file_create", "process_start", "process_end", "record",
        "interrupt", "repeat",      "volume_mount", "hold",        "release",       "outside"};
    const char* chosen = nullptr;
    for (const char* kind : kinds) {
        if (item.has(kind)) {
            if (chosen != nullptr)
                throw scenario_error(item.where(),
                                     std::string("a step has exactly one of its kinds; found \"") + chosen +
                                         "\" and \"" + kind + "\"");
            chosen = kind;
        }
    }
    if (chosen == nullptr)
        throw scenario_error(
            item.where(),
            "a step needs one of file_open, file_delete, file_rename, file_create, "
            "process_start, process_end, record, interrupt, repeat, volume_mount, hold, release, outside");
    object_reader body(item.require(chosen), item.where(chosen));
    const std::string_view kind = chosen;
    if (kind.substr(0, 5) == "file_") {
        result.action = read_file_step(body, kind);
    } else if (kind == "process_start" || kind == "process_end") {
        const bool start = kind == "process_start";
        process_event event;
        event.opcode = start ? process_start_opcode : process_end_opcode;
        event.process_id = static_cast<std::uint32_t>(body.number("pid", u32_max, 0, true));
        event.parent_id = static_cast<std::uint32_t>(body.number("parent_pid", u32_max, 0, start));
        event.image_file_name = body.text("image_file_name", "", true);
        event.command_line = wide(body.text("command_line", "", start));
        // "": a process without a token, whose record carries no SID.
        event.user_sid = body.has("user_sid") && body.text("user_sid", "").empty()
                             ? std::string()
                             : sid_at(body, "user_sid", "S-1-5-18", start);
        if (start) {
            process_start_step started{event, std::nullopt};
            if (body.has("image"))
                started.image = body.text("image", "");
            result.action = started;
        } else {
            result.action = process_end_step{event};
        }
    } else if (kind == "record") {
        result.action = read_record(body);
    } else if (kind == "repeat") {
        repeat_step repeat;
        repeat.times = static_cast<std::uint32_t>(body.number("times", u32_max, 1, true));
        if (repeat.times == 0)
            throw scenario_error(body.where("times"), "must be at least 1");
        if (depth == max_repeat_depth)
            throw scenario_error(item.where(chosen),
                                 "repeats nest at most " + std::to_string(max_repeat_depth) + " deep");
        repeat.steps = read_list<step>(body, "steps", {}, [depth, &providers](object_reader& inner) {
            return read_step(inner, depth + 1, providers);
        });
        if (repeat.steps.empty())
            throw scenario_error(body.where("steps"), "a repeat needs at least one step");
        result.action = std::move(repeat);
    } else if (kind == "outside") {
        result.action = read_outside_step(body, providers);
    } else if (kind == "volume_mount") {
        result.action =
            volume_mount_step{volume_entry{body.text("device", "", true), body.text("root", "", true)}};
    } else if (kind == "hold" || kind == "release") {
        result.action = session_hold_step{body.text("session", "", true), kind == "hold"};
    } else {
        result.action = interrupt_step{};
    }
    body.finish();
    return result;
}

} // namespace

std::optional<GUID> parse_guid(std::string_view text) {
    // 8-4-4-4-12 hexadecimal digits
    if (text.size() != 36 || text[8] != '-' || text[13] != '-' || text[18] != '-' || text[23] != '-')
        return std::nullopt;
    const auto hex = [&](std::size_t from, std::size_t count, std::uint64_t& out) {
        for (std::size_t i = from; i < from + count; ++i) {
            const char c = text[i];
            const bool digit = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
            if (!digit)
                return false;
        }
        std::from_chars(text.data() + from, text.data() + from + count, out, 16);
        return true;
    };
    GUID guid{};
    std::uint64_t value = 0;
    if (!hex(0, 8, value))
        return std::nullopt;
    guid.Data1 = static_cast<std::uint32_t>(value);
    if (!hex(9, 4, value))
        return std::nullopt;
    guid.Data2 = static_cast<std::uint16_t>(value);
    if (!hex(14, 4, value))
        return std::nullopt;
    guid.Data3 = static_cast<std::uint16_t>(value);
    const std::size_t byte_offsets[8] = {19, 21, 24, 26, 28, 30, 32, 34};
    for (std::size_t i = 0; i < 8; ++i) {
        if (!hex(byte_offsets[i], 2, value))
            return std::nullopt;
        guid.Data4[i] = static_cast<std::uint8_t>(value);
    }
    return guid;
}

std::vector<registered_provider> machine_config::default_providers() {
    return {
        {"Microsoft-Windows-Kernel-File", kernel_file_provider},
        {"Microsoft-Windows-Kernel-Process", kernel_process_provider},
    };
}

scenario parse_scenario(std::string_view text) {
    rapidjson::Document document;
    // Iterative: nesting costs heap, not stack, so a file of deep brackets is
    // one more unusable scenario rather than a crash. The reading below
    // recurses only into repeats, whose depth it limits.
    document.Parse<rapidjson::kParseValidateEncodingFlag | rapidjson::kParseIterativeFlag>(text.data(),
                                                                                           text.size());
    if (document.HasParseError())
        throw scenario_error("byte " + std::to_string(document.GetErrorOffset()),
                             std::string("not valid JSON: ") +
                                 rapidjson::GetParseError_En(document.GetParseError()));
    object_reader top(document, "");
    const json& format = top.require("format");
    if (!format.IsUint() || format.GetUint() != 1)
        throw scenario_error("/format", "must be 1");

    scenario result;
    if (const json* machine = top.find("machine")) {
        object_reader reader(*machine, "/machine");
        result.machine = read_machine(reader);
        reader.finish();
    }
    result.steps = read_list<step>(top, "steps", {}, [&result](object_reader& item) {
        return read_step(item, 0, result.machine.providers);
    });
    top.finish();
    return result;
}

scenario load_scenario_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw scenario_error("", "scenario file " + path + ": cannot be read");
    std::ostringstream text;
    text << in.rdbuf();
    try {
        return parse_scenario(text.str());
    } catch (const scenario_error& error) {
        throw scenario_error("", "scenario file " + path + ": " + error.what());
    }
}

} // namespace tallowick::platform::simulated
