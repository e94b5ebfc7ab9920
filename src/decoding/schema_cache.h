#pragma once
// The TRACE_EVENT_INFO of each kind of event, fetched from TDH once per trace.

#include "platform/guid.h"
#include "platform/sdk/etw_types.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <unordered_map>

namespace etw {

// The identity of a kind of event: records that agree in these five fields share
// one schema.
struct schema_cache_key {
    GUID provider{};
    std::uint16_t id = 0;
    std::uint8_t opcode = 0;
    std::uint8_t version = 0;
    std::uint8_t level = 0;

    static schema_cache_key of(const EVENT_RECORD& record) {
        const EVENT_DESCRIPTOR& descriptor = record.EventHeader.EventDescriptor;
        return {record.EventHeader.ProviderId, descriptor.Id, descriptor.Opcode, descriptor.Version,
                descriptor.Level};
    }
    friend bool operator==(const schema_cache_key& left, const schema_cache_key& right) {
        return tallowick::platform::same_guid(left.provider, right.provider) && left.id == right.id &&
               left.opcode == right.opcode && left.version == right.version && left.level == right.level;
    }
};

// Folds the GUID into 32 bits: Data1 ^ (Data2 << 16 | Data3) ^ (Data4[2] << 24 | Data4[7]).
std::uint64_t guid_hash(const GUID& guid);

struct schema_cache_key_hash {
    std::uint64_t operator()(const schema_cache_key& key) const noexcept;
};

// A record's TRACE_EVENT_INFO exactly as TDH returned it.
using event_info_buffer = std::unique_ptr<std::byte[]>;

// Asks TDH for the record's schema: two calls, the first for the size. Throws
// the exception check_record_status chooses.
event_info_buffer fetch_event_info(const EVENT_RECORD& record);

// One trace's schemas. Buffers never move and are never replaced, so pointers
// into them stay valid for the life of the cache. Used by one thread only.
class schema_cache {
  public:
    schema_cache() = default;
    schema_cache(const schema_cache&) = delete;
    schema_cache& operator=(const schema_cache&) = delete;

    // The cached schema of the record's kind, fetched on first use. A failed
    // fetch leaves the kind without a schema and throws; the next record of the
    // kind fetches again.
    const TRACE_EVENT_INFO* find_or_fetch(const EVENT_RECORD& record) {
        const schema_cache_key key = schema_cache_key::of(record);
        if (last_info_ != nullptr && key == last_key_)
            return last_info_;
        return find_or_fetch(key, record);
    }

    std::size_t size() const { return entries_.size(); }

  private:
    const TRACE_EVENT_INFO* find_or_fetch(const schema_cache_key& key, const EVENT_RECORD& record);

    std::unordered_map<schema_cache_key, event_info_buffer, schema_cache_key_hash> entries_;
    // The last kind found: records of one kind tend to come in runs, and every
    // string test of a filter looks the same record up again.
    schema_cache_key last_key_{};
    const TRACE_EVENT_INFO* last_info_ = nullptr;
};

} // namespace etw
