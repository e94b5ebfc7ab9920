#pragma once

#include "decoding/schema_cache.h"

namespace etw {

// What a trace hands, by const reference, to every filter and callback with each
// record. The schema cache is a memo: it fills up behind the const interface.
struct trace_context {
    mutable schema_cache cache;
};

} // namespace etw
