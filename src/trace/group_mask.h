#pragma once
// The kernel group masks of a kernel logger session, exchanged with the kernel
// through the system-information calls.

#include "platform/sdk/etw_types.h"
#include "trace/session_providers.h"

#include <cstdint>

namespace etw {

// EVENT_TRACE_GROUPMASK_INFORMATION (not in the public SDK headers).
struct group_mask_information {
    std::uint32_t information_class = 1; // EventTraceGroupMaskInformation
    std::uint32_t padding = 0;
    std::uint64_t trace_handle = 0;
    std::uint32_t masks[8] = {}; // a PERFINFO_GROUPMASK
};
static_assert(sizeof(group_mask_information) == 48);

// Whether any provider sets a group mask.
bool any_group_mask(const kernel_provider_list& providers);

// ORs each provider's group mask into its word (top 3 bits: the word, low 29
// bits: the bits).
void add_group_masks(group_mask_information& information, const kernel_provider_list& providers);

} // namespace etw
