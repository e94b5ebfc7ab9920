#include "platform/simulated/record_builder.h"

#include "platform/simulated/sid_text.h"
#include "platform/windows_facts.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <utility>

namespace tallowick::platform::simulated {
namespace {

constexpr std::size_t event_info_header_size = offsetof(TRACE_EVENT_INFO, EventPropertyInfoArray);
// What the WBEMSID blob's first pointer holds: the address of the SID, nonzero.
constexpr std::uint64_t wbemsid_sid_address = 0xFFFF'C000'1234'5670;

void append_little_endian(std::vector<std::byte>& out, std::uint64_t value, std::size_t width) {
    for (std::size_t i = 0; i < width; ++i)
        out.push_back(static_cast<std::byte>((value >> (8 * i)) & 0xFF));
}

std::size_t fixed_width(property_type type, std::size_t pointer_size) {
    switch (type) {
    case property_type::uint8:
        return 1;
    case property_type::uint16:
        return 2;
    case property_type::uint32:
    case property_type::int32:
        return 4;
    case property_type::uint64:
        return 8;
    case property_type::pointer:
        return pointer_size;
    default:
        return 0;
    }
}

std::uint16_t in_type_of(property_type type) {
    switch (type) {
    case property_type::uint8:
        return sdk::tdh_intype_uint8;
    case property_type::uint16:
        return sdk::tdh_intype_uint16;
    case property_type::uint32:
        return sdk::tdh_intype_uint32;
    case property_type::uint64:
        return sdk::tdh_intype_uint64;
    case property_type::int32:
        return sdk::tdh_intype_int32;
    case property_type::pointer:
        return sdk::tdh_intype_pointer;
    case property_type::unicode:
        return sdk::tdh_intype_unicodestring;
    case property_type::ansi:
        return sdk::tdh_intype_ansistring;
    case property_type::sid:
        return sdk::tdh_intype_sid;
    case property_type::wbemsid:
        return sdk::tdh_intype_wbemsid;
    case property_type::bytes:
        return sdk::tdh_intype_binary;
    }
    return sdk::tdh_intype_null;
}

std::vector<std::byte> binary_sid(const std::string& text) {
    auto sid = sid_from_text(text);
    if (!sid)
        throw std::invalid_argument("not a SID: \"" + text + "\"");
    return std::move(*sid);
}

// Appends the property's bytes to the payload.
void encode(const record_property& property, std::size_t pointer_size, std::vector<std::byte>& out) {
    switch (property.type) {
    case property_type::unicode:
        for (const char16_t unit : property.text)
            append_little_endian(out, unit, 2);
        append_little_endian(out, 0, 2);
        return;
    case property_type::ansi:
        for (const char c : property.narrow)
            out.push_back(static_cast<std::byte>(c));
        out.push_back(std::byte{0});
        return;
    case property_type::sid: {
        const auto sid = binary_sid(property.narrow);
        out.insert(out.end(), sid.begin(), sid.end());
        return;
    }
    case property_type::wbemsid: {
        if (property.narrow.empty()) { // no SID: a zero ULONG
            append_little_endian(out, 0, 4);
            return;
        }
        const auto sid = binary_sid(property.narrow);
        // A TOKEN_USER of two pointer-sized values (the SID's address and the
        // attributes), then the SID.
        append_little_endian(out, wbemsid_sid_address, pointer_size);
        append_little_endian(out, 0, pointer_size);
        out.insert(out.end(), sid.begin(), sid.end());
        return;
    }
    case property_type::bytes:
        out.insert(out.end(), property.bytes.begin(), property.bytes.end());
        return;
    default:
        append_little_endian(out, property.number, fixed_width(property.type, pointer_size));
        return;
    }
}

EVENT_PROPERTY_INFO describe(const record_property& property, std::uint32_t name_offset) {
    const bool is_string = property.type == property_type::unicode || property.type == property_type::ansi;
    EVENT_PROPERTY_INFO info{};
    info.Flags = static_cast<PROPERTY_FLAGS>(property.flags.value_or(0));
    info.NameOffset = name_offset;
    info.nonStructType.InType = property.in_type.value_or(in_type_of(property.type));
    info.nonStructType.OutType =
        property.out_type.value_or(is_string ? sdk::tdh_outtype_string : sdk::tdh_outtype_null);
    info.count = 1;
    // Pointers are declared 8 bytes wide; the reader sizes them from the header.
    info.length = property.length.value_or(static_cast<std::uint16_t>(fixed_width(property.type, 8)));
    return info;
}

template <typename T> void store(std::vector<std::byte>& block, std::size_t offset, const T& value) {
    std::memcpy(block.data() + offset, &value, sizeof value);
}

std::vector<std::byte> lay_out_event_info(const record_description& description) {
    const auto& header = description.header;
    const std::size_t count = description.properties.size();
    const std::size_t array_end =
        std::max(sizeof(TRACE_EVENT_INFO), event_info_header_size + count * sizeof(EVENT_PROPERTY_INFO));
    std::size_t size = array_end;
    for (const auto& property : description.properties)
        size += 2 * (property.name.size() + 1);
    std::vector<std::byte> block(size);

    TRACE_EVENT_INFO info{};
    info.ProviderGuid = header.provider;
    const bool classic = (header.flags & sdk::event_header_flag_classic_header) != 0;
    if (classic)
        info.EventGuid = header.provider;
    info.EventDescriptor = {header.id,     header.version, header.channel, header.level,
                            header.opcode, header.task,    header.keywords};
    info.DecodingSource = classic ? DecodingSourceWbem : DecodingSourceXMLFile;
    info.PropertyCount = static_cast<std::uint32_t>(count);
    info.TopLevelPropertyCount = static_cast<std::uint32_t>(count);
    std::memcpy(block.data(), &info, event_info_header_size);

    std::size_t name_offset = array_end;
    for (std::size_t i = 0; i < count; ++i) {
        const auto& property = description.properties[i];
        store(block, event_info_header_size + i * sizeof(EVENT_PROPERTY_INFO),
              describe(property, static_cast<std::uint32_t>(name_offset)));
        for (const char16_t unit : property.name) {
            store(block, name_offset, unit);
            name_offset += 2;
        }
        name_offset += 2; // the zeroed terminator
    }
    return block;
}

} // namespace

record_property record_property::integer(std::u16string name, property_type type, std::uint64_t value) {
    record_property property;
    property.name = std::move(name);
    property.type = type;
    property.number = value;
    return property;
}

record_property record_property::uint32(std::u16string name, std::uint32_t value) {
    return integer(std::move(name), property_type::uint32, value);
}

record_property record_property::pointer(std::u16string name, std::uint64_t value) {
    return integer(std::move(name), property_type::pointer, value);
}

record_property record_property::unicode(std::u16string name, std::u16string value) {
    record_property property;
    property.name = std::move(name);
    property.type = property_type::unicode;
    property.text = std::move(value);
    return property;
}

record_property record_property::ansi(std::u16string name, std::string value) {
    record_property property;
    property.name = std::move(name);
    property.type = property_type::ansi;
    property.narrow = std::move(value);
    return property;
}

record_property record_property::sid(std::u16string name, std::string sid_text) {
    auto property = ansi(std::move(name), std::move(sid_text));
    property.type = property_type::sid;
    return property;
}

record_property record_property::wbemsid(std::u16string name, std::string sid_text) {
    auto property = ansi(std::move(name), std::move(sid_text));
    property.type = property_type::wbemsid;
    return property;
}

record_property record_property::raw(std::u16string name, std::vector<std::byte> value) {
    record_property property;
    property.name = std::move(name);
    property.type = property_type::bytes;
    property.bytes = std::move(value);
    return property;
}

built_record build_record(const record_description& description) {
    const auto& header = description.header;
    const std::size_t pointer_size = (header.flags & sdk::event_header_flag_32_bit_header) != 0 ? 4 : 8;

    built_record built;
    // As on Windows, UserData points into the record's buffer even when the
    // payload is empty: an empty property still has an address.
    built.payload_.reserve(1);
    for (const auto& property : description.properties) {
        const std::size_t before = built.payload_.size();
        encode(property, pointer_size, built.payload_);
        built.property_sizes_.push_back(static_cast<std::uint32_t>(built.payload_.size() - before));
    }
    if (description.truncate && *description.truncate < built.payload_.size())
        built.payload_.resize(*description.truncate);
    if (built.payload_.size() > std::numeric_limits<std::uint16_t>::max())
        throw std::length_error("record payload larger than 65535 bytes");

    built.event_info_ = lay_out_event_info(description);
    built.schema_known_ = description.schema_known;

    EVENT_HEADER& event_header = built.record_.EventHeader;
    event_header.Size = sizeof(EVENT_HEADER);
    event_header.Flags = header.flags;
    event_header.ThreadId = header.thread_id;
    event_header.ProcessId = header.process_id;
    event_header.TimeStamp.QuadPart = header.timestamp;
    event_header.ProviderId = header.provider;
    event_header.EventDescriptor = {header.id,     header.version, header.channel, header.level,
                                    header.opcode, header.task,    header.keywords};
    built.record_.UserDataLength = static_cast<std::uint16_t>(built.payload_.size());
    built.record_.UserData = built.payload_.data();
    return built;
}

record_description describe_file_event(const file_event& event) {
    using property = record_property;
    record_description description;
    auto& header = description.header;
    header.provider = kernel_file_provider;
    header.id = event.id;
    header.version = event.version;
    header.task = event.id;
    header.level = sdk::trace_level_information;
    header.process_id = event.process_id;
    header.thread_id = event.thread_id;
    header.flags = event.header_flags;
    switch (event.id) {
    case file_create_event:
        header.keywords = 0xA0;
        break;
    case file_delete_path_event:
        header.keywords = 0x400;
        break;
    case file_rename_path_event:
        header.keywords = 0x800;
        break;
    case file_create_new_file_event:
        header.keywords = 0x1000;
        break;
    default:
        break;
    }

    const bool v0 = event.version == 0;
    const std::uint64_t irp = 0xFFFF'A000'0001'0010 + event.process_id;
    const std::uint64_t file_object = 0xFFFF'A000'0002'0020 + event.process_id;
    auto& properties = description.properties;
    properties.push_back(property::pointer(u"Irp", irp));
    if (v0)
        properties.push_back(property::pointer(u"ThreadId", event.thread_id));
    properties.push_back(property::pointer(u"FileObject", file_object));
    if (event.id == file_delete_path_event || event.id == file_rename_path_event) {
        properties.push_back(property::pointer(u"FileKey", 0xFFFF'A000'0003'0030));
        properties.push_back(property::pointer(u"ExtraInformation", 0));
        if (!v0)
            properties.push_back(property::uint32(u"IssuingThreadId", event.thread_id));
        properties.push_back(property::uint32(u"InfoClass", event.info_class));
        properties.push_back(property::unicode(u"FilePath", event.name));
    } else {
        if (!v0)
            properties.push_back(property::uint32(u"IssuingThreadId", event.thread_id));
        properties.push_back(property::uint32(u"CreateOptions", event.create_options));
        properties.push_back(property::uint32(u"CreateAttributes", event.create_attributes));
        properties.push_back(property::uint32(u"ShareAccess", event.share_access));
        properties.push_back(property::unicode(u"FileName", event.name));
    }
    return description;
}

record_description describe_process_event(const process_event& event) {
    using property = record_property;
    record_description description;
    auto& header = description.header;
    header.provider = process_guid;
    header.version = 4;
    header.opcode = event.opcode;
    header.level = 0;
    header.flags = event.header_flags;
    header.process_id = event.header_process_id.value_or(
        event.opcode == process_start_opcode ? event.parent_id : event.process_id);

    auto& properties = description.properties;
    properties.push_back(property::pointer(u"UniqueProcessKey", 0xFFFF'B000'0000'0000 + event.process_id));
    properties.push_back(property::uint32(u"ProcessId", event.process_id));
    properties.push_back(property::uint32(u"ParentId", event.parent_id));
    properties.push_back(property::uint32(u"SessionId", event.session_id));
    properties.push_back(property::integer(u"ExitStatus", property_type::int32,
                                           static_cast<std::uint32_t>(event.exit_status)));
    properties.push_back(property::pointer(u"DirectoryTableBase", 0x1AD000));
    properties.push_back(property::uint32(u"Flags", event.flags));
    properties.push_back(property::wbemsid(u"UserSID", event.user_sid));
    properties.push_back(property::ansi(u"ImageFileName", event.image_file_name));
    properties.push_back(property::unicode(u"CommandLine", event.command_line));
    properties.push_back(property::unicode(u"PackageFullName", event.package_full_name));
    properties.push_back(property::unicode(u"ApplicationId", event.application_id));
    return description;
}

} // namespace tallowick::platform::simulated
