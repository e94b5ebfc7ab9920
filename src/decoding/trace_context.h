#pragma once

#include "decoding/schema_cache.h"

#include <memory>

namespace etw {

class current_record;

// What a trace hands, by const reference, to every filter and callback with each
// record. The schema cache and the current record are memos: they fill up
// behind the const interface. One session's thread uses them.
struct trace_context {
    trace_context();
    ~trace_context();
    trace_context(const trace_context&) = delete;
    trace_context& operator=(const trace_context&) = delete;

    mutable schema_cache cache;
    // The record being dispatched, walked once for every reader.
    current_record& current() const { return *current_; }

  private:
    std::unique_ptr<current_record> current_; // stays put: its parser points into it
};

} // namespace etw
