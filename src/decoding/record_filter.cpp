#include "decoding/record_filter.h"

#include "decoding/errors.h"

#include <utility>

namespace etw {

record_filter::record_filter(std::vector<std::uint16_t> event_ids, event_predicate predicate)
    : predicate_(std::move(predicate)), event_ids_(std::move(event_ids)) {}

void record_filter::add_event_callback(event_callback callback) {
    event_callbacks_.push_back(std::move(callback));
}

void record_filter::add_error_callback(event_error_callback callback) {
    error_callbacks_.push_back(std::move(callback));
}

void record_filter::handle_event(const EVENT_RECORD& record, const trace_context& context) const {
    if (event_callbacks_.empty())
        return;
    try {
        if (predicate_ && !predicate_(record, context))
            return;
        for (const auto& callback : event_callbacks_)
            callback(record, context);
    } catch (const could_not_find_schema& error) {
        const std::string message = error.what();
        for (const auto& callback : error_callbacks_)
            callback(record, message);
    }
}

} // namespace etw
