#pragma once
// The trace-decoding half of the simulated machine: answers TdhGetEventInformation
// and TdhGetPropertySize for records made by the record builder, as TDH would.

#include "platform/sdk/etw_types.h"
#include "platform/simulated/record_builder.h"

#include <array>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace tallowick::platform::simulated {

class tdh_catalog {
  public:
    // Makes the record's schema known for its kind (provider, id, opcode,
    // version, level), unless the record says TDH does not know it, and keeps the
    // sizes of its properties for size queries about this record, wherever a
    // copy of its payload is read (a session's buffer holds one).
    void add(const built_record& record);
    // Undoes one add: once every add of a payload is undone its sizes are
    // forgotten; the schema of its kind stays known.
    void remove(const built_record& record);

    // TdhGetEventInformation without contexts: 1168 for an unknown kind; 122 and
    // the size needed when `buffer` is null or `*buffer_size` too small; else 0
    // with the block copied.
    std::uint32_t get_event_information(const EVENT_RECORD& record, TRACE_EVENT_INFO* buffer,
                                        std::uint32_t* buffer_size) const;
    // TdhGetPropertySize for one descriptor naming a property by the address of
    // its name: 0 and the size for a property of an added record, else 1168
    // with nothing stored.
    std::uint32_t get_property_size(const EVENT_RECORD& record, const PROPERTY_DATA_DESCRIPTOR& descriptor,
                                    std::uint32_t* property_size) const;

  private:
    using kind = std::pair<std::array<std::uint8_t, sizeof(GUID)>, std::uint64_t>;
    static kind kind_of(const EVENT_RECORD& record);

    mutable std::mutex mutex_;
    std::map<kind, std::vector<std::byte>> schemas_;
    struct sizes_entry {
        std::vector<std::pair<std::u16string, std::uint32_t>> sizes;
        std::size_t adds = 0;
    };
    static std::string payload_key(const EVENT_RECORD& record);
    // Keyed by the payload's bytes: records with equal payloads have equal sizes.
    std::map<std::string, sizes_entry> property_sizes_;
};

} // namespace tallowick::platform::simulated
