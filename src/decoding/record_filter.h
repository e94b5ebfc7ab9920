#pragma once

#include "decoding/trace_context.h"
#include "platform/sdk/etw_types.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace etw {

using event_predicate = std::function<bool(const EVENT_RECORD&, const trace_context&)>;
using event_callback = std::function<void(const EVENT_RECORD&, const trace_context&)>;
using event_error_callback = std::function<void(const EVENT_RECORD&, const std::string&)>;

// A predicate with the callbacks to run for the records it accepts, and the
// event ids its provider asks the platform for. A value: copies are independent.
class record_filter {
  public:
    // An empty predicate accepts every record.
    record_filter(std::vector<std::uint16_t> event_ids, event_predicate predicate);

    void add_event_callback(event_callback callback);
    void add_error_callback(event_error_callback callback);

    // Runs the event callbacks in order when the predicate accepts the record. A
    // schema that cannot be found, while filtering or in a callback, goes to the
    // error callbacks instead; every other exception goes to the caller.
    void handle_event(const EVENT_RECORD& record, const trace_context& context) const;

    const std::vector<std::uint16_t>& event_ids() const { return event_ids_; }

  private:
    std::deque<event_callback> event_callbacks_;
    std::deque<event_error_callback> error_callbacks_;
    event_predicate predicate_;
    std::vector<std::uint16_t> event_ids_;
};

} // namespace etw
