#include "decoding/schema_cache.h"

#include "decoding/errors.h"
#include "platform/tracing_api.h"
#include "platform/windows_facts.h"

#include <algorithm>
#include <cstring>

namespace etw {
namespace platform = tallowick::platform;

std::uint64_t guid_hash(const GUID& guid) {
    const std::uint64_t data1 = static_cast<std::uint32_t>(guid.Data1);
    const std::uint64_t data2 = static_cast<std::uint16_t>(guid.Data2);
    const std::uint64_t data3 = static_cast<std::uint16_t>(guid.Data3);
    const std::uint64_t byte2 = static_cast<std::uint8_t>(guid.Data4[2]);
    const std::uint64_t byte7 = static_cast<std::uint8_t>(guid.Data4[7]);
    return data1 ^ ((data2 << 16) | data3) ^ ((byte2 << 24) | byte7);
}

std::uint64_t schema_cache_key_hash::operator()(const schema_cache_key& key) const noexcept {
    std::uint64_t h = 2166136261u;
    for (const std::uint64_t value :
         {guid_hash(key.provider), std::uint64_t{key.id}, std::uint64_t{key.opcode},
          std::uint64_t{key.version}, std::uint64_t{key.level}})
        h ^= (h << 5) + (h >> 2) + value;
    return h;
}

event_info_buffer fetch_event_info(const EVENT_RECORD& record) {
    auto& tracing = tallowick::platform::current_tracing();
    std::uint32_t size = 0;
    const std::uint32_t status = tracing.tdh_get_event_information(&record, 0, nullptr, nullptr, &size);
    if (status != platform::error_insufficient_buffer)
        check_record_status(status, record);
    // Never smaller than the fixed part, so a platform that answers with less
    // cannot send a reader past the buffer; the size passed on is unchanged.
    auto buffer = std::make_unique<std::byte[]>(std::max<std::size_t>(size, sizeof(TRACE_EVENT_INFO)));
    check_record_status(tracing.tdh_get_event_information(
                            &record, 0, nullptr, reinterpret_cast<TRACE_EVENT_INFO*>(buffer.get()), &size),
                        record);
    return buffer;
}

const TRACE_EVENT_INFO* schema_cache::find_or_fetch(const schema_cache_key& key, const EVENT_RECORD& record) {
    event_info_buffer& entry = entries_[key];
    if (!entry)
        entry = fetch_event_info(record);
    last_key_ = key;
    last_info_ = reinterpret_cast<const TRACE_EVENT_INFO*>(entry.get());
    return last_info_;
}

} // namespace etw
