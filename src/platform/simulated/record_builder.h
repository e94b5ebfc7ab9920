#pragma once
// Synthetic event records with the layouts Windows hands out: the EVENT_RECORD,
// its packed payload and the TRACE_EVENT_INFO that TDH would return for it, built
// from a list of typed properties.

#include "platform/sdk/etw_types.h"
#include "platform/windows_facts.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tallowick::platform::simulated {

enum class property_type {
    uint8,
    uint16,
    uint32,
    uint64,
    int32,
    pointer,
    unicode,
    ansi,
    sid,
    wbemsid,
    bytes
};

// One property of a record, in payload order. The value sits in the member its
// type uses; the optional members override what the schema declares for it.
struct record_property {
    std::u16string name;
    property_type type = property_type::uint32;
    std::uint64_t number = 0;     // integers and pointers (int32 as its two's complement)
    std::u16string text;          // unicode: written with its terminating zero
    std::string narrow;           // ansi bytes (written with a terminating zero); sid and wbemsid text
    std::vector<std::byte> bytes; // bytes: written as they are

    std::optional<std::uint32_t> flags;    // EVENT_PROPERTY_INFO.Flags
    std::optional<std::uint16_t> length;   // EVENT_PROPERTY_INFO.length
    std::optional<std::uint16_t> in_type;  // nonStructType.InType
    std::optional<std::uint16_t> out_type; // nonStructType.OutType

    static record_property integer(std::u16string name, property_type type, std::uint64_t value);
    static record_property uint32(std::u16string name, std::uint32_t value);
    static record_property pointer(std::u16string name, std::uint64_t value);
    static record_property unicode(std::u16string name, std::u16string value);
    static record_property ansi(std::u16string name, std::string value);
    static record_property sid(std::u16string name, std::string sid_text);
    // An empty text gives the null blob (a zero ULONG) of a token without a SID.
    static record_property wbemsid(std::u16string name, std::string sid_text);
    static record_property raw(std::u16string name, std::vector<std::byte> value);
};

struct record_header {
    GUID provider{};
    std::uint16_t id = 0;
    std::uint8_t version = 0;
    std::uint8_t opcode = 0;
    std::uint8_t level = 4;
    std::uint8_t channel = 0;
    std::uint16_t task = 0;
    std::uint64_t keywords = 0;
    std::uint32_t process_id = 0;
    std::uint32_t thread_id = 0;
    std::uint16_t flags = sdk::event_header_flag_64_bit_header; // 0x0020 makes pointers 4 bytes
    std::int64_t timestamp = 0;
};

struct record_description {
    record_header header;
    std::vector<record_property> properties;
    std::optional<std::size_t> truncate; // cut the payload to this many bytes after encoding
    bool schema_known = true;            // false: TDH has no schema for it (1168)
};

// A built record. Move-only: the EVENT_RECORD points into the payload it owns.
class built_record {
  public:
    built_record() = default;
    built_record(built_record&&) noexcept = default;
    built_record& operator=(built_record&&) noexcept = default;
    built_record(const built_record&) = delete;
    built_record& operator=(const built_record&) = delete;
    ~built_record() = default;

    const EVENT_RECORD& record() const { return record_; }
    EVENT_RECORD& record() { return record_; }
    std::span<const std::byte> payload() const { return payload_; }
    // The TRACE_EVENT_INFO block exactly as TdhGetEventInformation fills it.
    std::span<const std::byte> event_info() const { return event_info_; }
    // What TdhGetPropertySize answers for each property, in declared order
    // (sizes before any truncation).
    std::span<const std::uint32_t> property_sizes() const { return property_sizes_; }
    bool schema_known() const { return schema_known_; }

  private:
    friend built_record build_record(const record_description& description);

    EVENT_RECORD record_{};
    std::vector<std::byte> payload_;
    std::vector<std::byte> event_info_;
    std::vector<std::uint32_t> property_sizes_;
    bool schema_known_ = true;
};

// Lays out the record. Throws std::invalid_argument for a SID text that is not
// one and std::length_error for a payload beyond 65535 bytes.
built_record build_record(const record_description& description);

// A Microsoft-Windows-Kernel-File event 12, 26, 27 or 30: version 0 takes the v0
// layout, every other version the v1 layout. `name` goes into FileName (12, 30)
// or FilePath (26, 27).
struct file_event {
    std::uint16_t id = file_create_event;
    std::uint8_t version = 1;
    std::uint32_t process_id = 0;
    std::uint32_t thread_id = 0x1D2C;
    std::u16string name;
    std::uint32_t share_access = 0;
    std::uint32_t create_options = 0x01000060;
    std::uint32_t create_attributes = 0x80;
    std::uint32_t info_class = 0;
    std::uint16_t header_flags = sdk::event_header_flag_64_bit_header;
};
record_description describe_file_event(const file_event& event);

// A kernel logger process event (class version 4, the V4 payload).
struct process_event {
    std::uint8_t opcode = process_start_opcode; // or the end, or 3 and 4: rundown
    std::uint32_t process_id = 0;
    std::uint32_t parent_id = 0;
    std::uint32_t session_id = 1;
    std::int32_t exit_status = 0;
    std::uint32_t flags = 0;
    std::string user_sid = "S-1-5-18"; // empty: the null blob
    std::string image_file_name;       // ANSI bytes, not shortened
    std::u16string command_line;
    std::u16string package_full_name;
    std::u16string application_id;
    // The header's process id; by default the parent for a start, the process
    // itself otherwise (a start is logged in its creator's context).
    std::optional<std::uint32_t> header_process_id;
    std::uint16_t header_flags = sdk::event_header_flag_classic_header | sdk::event_header_flag_64_bit_header;
};
record_description describe_process_event(const process_event& event);

} // namespace tallowick::platform::simulated
