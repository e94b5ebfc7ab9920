#pragma once

#include "decoding/record_filter.h"
#include "decoding/trace_context.h"
#include "platform/sdk/etw_types.h"

#include <deque>

namespace etw {

// What every provider carries: its own copies of the filters attached to it, run
// in the order they were attached for each record that reaches the provider.
class filtered_provider {
  public:
    // Stores a copy: later changes to `filter` do not reach the provider.
    void attach_filter(const record_filter& filter) { filters_.push_back(filter); }

    // Hands the record to every filter in order. A filter settles a missing
    // schema itself; any other exception stops the walk and propagates.
    void dispatch(const EVENT_RECORD& record, const trace_context& context) const {
        for (const auto& filter : filters_)
            filter.handle_event(record, context);
    }

    const std::deque<record_filter>& filters() const { return filters_; }

  private:
    std::deque<record_filter> filters_;
};

} // namespace etw
