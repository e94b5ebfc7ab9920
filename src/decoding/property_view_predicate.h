#pragma once

#include "decoding/current_record.h"
#include "decoding/event_schema.h"
#include "decoding/predicates.h"
#include "decoding/property_parser.h"

#include <string>
#include <utility>

namespace etw::predicates::details {

// A test on the text of one named property: the adapter views the property, the
// comparer decides. A record without the property, or whose payload cannot be
// walked to it, fails the test; a record without a schema raises what the
// schema lookup raises.
template <typename T, typename Adapter, typename Comparer>
class property_view_predicate final : public predicate_base {
  public:
    property_view_predicate(std::u16string property_name, T expected_value)
        : property_name_(std::move(property_name)), expected_value_(std::move(expected_value)) {}

    bool operator()(const EVENT_RECORD& record, const trace_context& context) const override {
        // Shared with the other tests and the callbacks of this record.
        property_parser& parser = context.current().parser(record, context);
        try {
            const property_slice slice = parser.locate_property(property_name_);
            if (!slice.found())
                return false;
            return comparer_(adapter_(slice), expected_value_);
        } catch (...) {
            return false;
        }
    }

  private:
    std::u16string property_name_;
    T expected_value_;
    [[no_unique_address]] Adapter adapter_;
    [[no_unique_address]] Comparer comparer_;
};

} // namespace etw::predicates::details
