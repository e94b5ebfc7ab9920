#pragma once

#include "decoding/event_schema.h"
#include "decoding/property_parser.h"
#include "platform/sdk/etw_types.h"

#include <optional>

namespace etw {

// The record a session is dispatching, walked once for all that read it: the
// filter's name tests and the callbacks share one parser, so the payload is
// walked to a property only the first time anyone asks for it.
class current_record {
  public:
    // Forgets the last record: the dispatch calls it before each record.
    void begin() {
        parser_.reset();
        schema_.reset();
        record_ = nullptr;
    }

    // The parser of `record`, made on first use; throws what the schema lookup
    // throws. Valid until the next `begin` or another record is asked for.
    property_parser& parser(const EVENT_RECORD& record, const trace_context& context) {
        if (!parser_ || record_ != &record || user_data_ != record.UserData) {
            parser_.reset();
            schema_.emplace(record, context);
            parser_.emplace(*schema_);
            record_ = &record;
            user_data_ = record.UserData;
        }
        return *parser_;
    }

  private:
    const EVENT_RECORD* record_ = nullptr;
    const void* user_data_ = nullptr;
    std::optional<event_schema> schema_;
    std::optional<property_parser> parser_; // refers to *schema_
};

} // namespace etw
