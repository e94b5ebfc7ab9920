#pragma once

#include "platform/sdk/etw_types.h"

#include <cstdint>

namespace tallowick::monitor {

// A record header's TimeStamp: system time in 100-nanosecond units, the
// clock every session of the agent converts its records to.
using record_time = std::int64_t;

// When `record` happened, on that clock. Every reader of a record's time goes
// through here.
inline record_time time_of(const EVENT_RECORD& record) {
    return record.EventHeader.TimeStamp.QuadPart;
}

} // namespace tallowick::monitor
