#pragma once
// Hands a record to the provider it belongs to, which runs it through its filters.

#include "decoding/trace_context.h"
#include "platform/sdk/etw_types.h"
#include "trace/session_providers.h"

namespace etw {

// The first provider whose GUID is the record's ProviderId takes it; failing that,
// the first whose GUID is the ProviderGuid of the record's schema, fetched for
// this record alone (two TDH calls, not cached). Returns whether one took it.
// Throws what the schema fetch throws, and what a provider's filters let pass.
bool dispatch_user_record(const EVENT_RECORD& record, const manifest_provider_list& providers,
                          const trace_context& context);

// Kernel records are matched on their header alone: no schema is ever fetched.
bool dispatch_kernel_record(const EVENT_RECORD& record, const kernel_provider_list& providers,
                            const trace_context& context);

} // namespace etw
