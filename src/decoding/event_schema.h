#pragma once

#include "decoding/trace_context.h"
#include "platform/sdk/etw_types.h"

#include <cstdint>

namespace etw {

// A record paired with its cached TRACE_EVENT_INFO. Two pointers, copied freely;
// valid while the record's callback runs.
class event_schema {
  public:
    // Looks the schema up in the context's cache; throws what fetching throws.
    event_schema(const EVENT_RECORD& record, const trace_context& context)
        : record_(&record), info_(context.cache.find_or_fetch(record)) {}

    const EVENT_RECORD& record() const { return *record_; }
    const TRACE_EVENT_INFO* event_info() const { return info_; }
    // From the record's own header, not from the schema.
    std::uint16_t event_id() const { return record_->EventHeader.EventDescriptor.Id; }
    std::uint8_t event_opcode() const { return record_->EventHeader.EventDescriptor.Opcode; }

  private:
    const EVENT_RECORD* record_;
    const TRACE_EVENT_INFO* info_;
};

} // namespace etw
