// Arbitrary records: a schema and a payload taken from the input, read by the
// property parser in every way the agent reads properties, then handed to the
// file provider (its whole filter and callback) and to the process provider,
// whose tasks run against a simulated machine. Every input must end in a read,
// a refusal or an error line, never anything worse.
//
// Input layout (all multi-byte values little-endian):
//   byte 0       bit 0: a kernel process record (classic header) instead of a
//                file record; bit 1: 32-bit header (4-byte pointers); bit 2:
//                TDH knows no schema for it
//   byte 1       the event id of a file record, the opcode of a process record
//   byte 2       the event version
//   bytes 3-6    the header's process id
//   byte 7       the number of properties (low four bits)
//   4 bytes per property:
//     [0] its name, an index into `names` (modulo its size)
//     [1] bits 0-3: its in-type, an index into `in_types` (modulo its size);
//         bit 4: no string out-type; bits 5-6: its flags (struct 1, param
//         length 2); bit 7: the declared length is byte [2], else the type's
//         own width (0 for strings, SIDs and binary)
//     [2] the declared length (see bit 7)
//     [3] how many payload bytes the property takes (the last one takes all
//         that is left)
//   the rest: the payload.
#include "app/exclusion_tables.h"
#include "decoding/event_schema.h"
#include "decoding/property_parser.h"
#include "decoding/trace_context.h"
#include "monitor/file_provider_setup.h"
#include "monitor/message_sink.h"
#include "monitor/process_provider_setup.h"
#include "monitor/process_tracker.h"
#include "platform/sdk/etw_types.h"
#include "platform/simulated/record_builder.h"
#include "platform/simulated/simulated_system.h"
#include "platform/windows_facts.h"
#include "pool/thread_pool.h"
#include "support/fake_tracing.h"
#include "trace/kernel_provider.h"
#include "trace/provider.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <future>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace {

namespace sdk = tallowick::platform::sdk;
namespace simulated = tallowick::platform::simulated;

constexpr std::array<std::u16string_view, 12> names{
    u"FileName", u"FilePath", u"ShareAccess", u"ProcessId",  u"CommandLine", u"ImageFileName",
    u"UserSID",  u"ParentId", u"Irp",         u"FileObject", u"SessionId",   u"X"};

struct in_type {
    std::uint16_t code;
    std::uint16_t width;
};
constexpr std::array<in_type, 12> in_types{{{sdk::tdh_intype_unicodestring, 0},
                                            {sdk::tdh_intype_ansistring, 0},
                                            {sdk::tdh_intype_uint8, 1},
                                            {sdk::tdh_intype_uint16, 2},
                                            {sdk::tdh_intype_uint32, 4},
                                            {sdk::tdh_intype_uint64, 8},
                                            {sdk::tdh_intype_int32, 4},
                                            {sdk::tdh_intype_pointer, 8},
                                            {sdk::tdh_intype_sid, 0},
                                            {sdk::tdh_intype_wbemsid, 0},
                                            {sdk::tdh_intype_binary, 0},
                                            {sdk::tdh_intype_guid, 16}}};

constexpr std::size_t header_size = 8, declaration_size = 4;

// Takes `count` bytes off the front of `input` (fewer when it runs out).
std::span<const std::uint8_t> take(std::span<const std::uint8_t>& input, std::size_t count) {
    count = std::min(count, input.size());
    const auto taken = input.first(count);
    input = input.subspan(count);
    return taken;
}

std::uint32_t little_endian(std::span<const std::uint8_t> bytes) {
    std::uint32_t value = 0;
    for (std::size_t i = bytes.size(); i-- > 0;)
        value = (value << 8) | bytes[i];
    return value;
}

simulated::record_description describe(std::span<const std::uint8_t> input) {
    std::array<std::uint8_t, header_size> header{}; // zeros where the input ends early
    const auto given = take(input, header_size);
    std::copy(given.begin(), given.end(), header.begin());
    const std::uint8_t mode = header[0];
    const std::uint32_t process_id = little_endian(std::span(header).subspan(3, 4));
    simulated::record_description description;
    if ((mode & 1) != 0) {
        simulated::process_event event;
        event.opcode = header[1];
        event.header_process_id = process_id;
        description = simulated::describe_process_event(event);
    } else {
        simulated::file_event event;
        event.id = header[1];
        event.process_id = process_id;
        description = simulated::describe_file_event(event);
    }
    description.header.version = header[2];
    if ((mode & 2) != 0)
        description.header.flags =
            static_cast<std::uint16_t>((description.header.flags & ~sdk::event_header_flag_64_bit_header) |
                                       sdk::event_header_flag_32_bit_header);
    description.schema_known = (mode & 4) == 0;
    description.properties.clear();

    const std::size_t count = header[7] & 0x0F;
    std::vector<std::array<std::uint8_t, declaration_size>> declarations;
    for (std::size_t i = 0; i < count && !input.empty(); ++i) {
        std::array<std::uint8_t, declaration_size> declaration{};
        const auto bytes = take(input, declaration_size);
        std::copy(bytes.begin(), bytes.end(), declaration.begin());
        declarations.push_back(declaration);
    }
    for (std::size_t i = 0; i < declarations.size(); ++i) {
        const auto& declaration = declarations[i];
        const in_type type = in_types[(declaration[1] & 0x0F) % in_types.size()];
        const auto chunk =
            i + 1 == declarations.size() ? take(input, input.size()) : take(input, declaration[3]);
        std::vector<std::byte> bytes(chunk.size());
        std::transform(chunk.begin(), chunk.end(), bytes.begin(),
                       [](std::uint8_t b) { return std::byte{b}; });
        auto property = simulated::record_property::raw(std::u16string(names[declaration[0] % names.size()]),
                                                        std::move(bytes));
        const bool is_string =
            type.code == sdk::tdh_intype_unicodestring || type.code == sdk::tdh_intype_ansistring;
        property.in_type = type.code;
        property.out_type =
            is_string && (declaration[1] & 0x10) == 0 ? sdk::tdh_outtype_string : sdk::tdh_outtype_null;
        property.flags = static_cast<std::uint32_t>((declaration[1] >> 5) & 0x3);
        property.length = (declaration[1] & 0x80) != 0 ? declaration[2] : type.width;
        description.properties.push_back(std::move(property));
    }
    return description;
}

template <typename T> void read_as(etw::property_parser& parser, std::u16string_view name) {
    T value{};
    parser.try_read_property(name, value);
}

// Every read the agent makes, of every name the record has, in one parser
// (reads share its walk). Integer reads of the wrong size are left out: they
// only throw, and exceptions are what makes a fuzzing run slow.
void read_everything(const EVENT_RECORD& record) {
    try {
        const etw::trace_context context;
        const etw::event_schema schema(record, context);
        etw::property_parser parser(schema);
        for (const std::u16string_view name : names) {
            etw::property_slice slice;
            try {
                slice = parser.locate_property(name);
            } catch (const std::out_of_range&) {
                continue; // the walk stopped short of it
            }
            if (!slice.found())
                continue;
            read_as<std::u16string>(parser, name);
            read_as<std::string>(parser, name);
            read_as<etw::sid>(parser, name);
            switch (slice.length) {
            case 1:
                read_as<std::uint8_t>(parser, name);
                break;
            case 2:
                read_as<std::uint16_t>(parser, name);
                break;
            case 4:
                read_as<std::uint32_t>(parser, name);
                break;
            case 8:
                read_as<std::uint64_t>(parser, name);
                break;
            default:
                break;
            }
        }
    } catch (const std::exception&) {
        // No schema: the agent's callbacks report that as an error line.
    }
}

simulated::machine_inventory fuzz_machine() {
    const std::string volume = "\\Device\\HarddiskVolume3";
    const std::string alice = "S-1-5-21-1-2-3-1001";
    simulated::machine_inventory model;
    using simulated::process_access;
    model.processes = {
        {10, volume + "\\Windows\\explorer.exe", alice, process_access::full},
        {100, volume + "\\Program Files\\Office\\WINWORD.EXE", alice, process_access::full},
        {200, volume + "\\Windows\\System32\\smss.exe", "S-1-5-18", process_access::denied},
        {300, volume + "\\Tools\\limited.exe", "", process_access::limited},
    };
    model.accounts.push_back({alice, "alice", "DESKTOP-1"});
    model.files = {{"C:\\Users\\alice\\report.docx", simulated::file_type::file},
                   {"C:\\Users\\alice", simulated::file_type::dir}};
    return model;
}

// Each message is written out as the agent would send it, and dropped.
class serialising_sink final : public tallowick::monitor::message_sink {
  public:
    void send(rapidjson::Document& message, tallowick::monitor::message_kind,
              tallowick::monitor::record_time) override {
        rapidjson::StringBuffer text;
        rapidjson::Writer<rapidjson::StringBuffer> writer(text);
        message.Accept(writer);
    }
};

// The agent's two providers on one pool of one worker, set up once.
class providers {
  public:
    providers() {
        tallowick::testing::fake_tracing lookup; // answers the file provider's GUID lookup
        lookup.providers = {{u"Microsoft-Windows-Kernel-File", tallowick::platform::kernel_file_provider}};
        const tallowick::platform::scoped_tracing scope(lookup);
        file_ = std::make_unique<etw::provider<std::uint64_t>>(u"Microsoft-Windows-Kernel-File");
        tallowick::monitor::setup_filekernel_provider(*file_, pool_, scope_, sink_, tracker_);
        tallowick::monitor::setup_kernel_process_provider(process_, pool_, scope_, sink_, tracker_);
    }

    // Dispatches the record to both and waits until their tasks have run: the
    // one worker takes tasks in queue order, so a marker queued last runs last.
    void dispatch(const EVENT_RECORD& record) {
        file_->dispatch(record, etw::trace_context{});
        process_.dispatch(record, etw::trace_context{});
        std::promise<void> drained;
        pool_.enqueue_task([&drained] { drained.set_value(); });
        drained.get_future().wait();
    }

  private:
    const tallowick::monitor::event_scope scope_ = tallowick::app::agent_scope({"\\"}, {"limited.exe"});
    serialising_sink sink_;
    // Declared before the pool, as the scope and the sink: they outlive the queued tasks.
    tallowick::monitor::process_tracker tracker_;
    tallowick::pool::thread_pool pool_{1};
    std::unique_ptr<etw::provider<std::uint64_t>> file_;
    etw::kernel::process_provider process_;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static simulated::simulated_system system(fuzz_machine());
    static const tallowick::platform::scoped_system system_scope(system);
    static providers agent;

    simulated::built_record record;
    try {
        record = simulated::build_record(describe({data, size}));
    } catch (const std::length_error&) {
        return -1; // beyond what a record can carry: not worth keeping
    }
    // A fresh fake per input: it logs every call, and its TDH knows only this record.
    tallowick::testing::fake_tracing tracing;
    const tallowick::platform::scoped_tracing tracing_scope(tracing);
    tracing.tdh.add(record);
    read_everything(record.record());
    agent.dispatch(record.record());
    return 0;
}
