#include "decoding/trace_context.h"

#include "decoding/current_record.h"

namespace etw {

trace_context::trace_context() : current_(std::make_unique<current_record>()) {}
trace_context::~trace_context() = default;

} // namespace etw
