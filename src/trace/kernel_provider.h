#pragma once

#include "platform/sdk/etw_types.h"
#include "platform/windows_facts.h"
#include "trace/filtered_provider.h"

#include <cstdint>

namespace etw::kernel {

// A provider of the kernel logger: switched on by enable-flag bits (and kernel
// group-mask bits), its records recognised by `provider_guid`.
class kernel_provider : public filtered_provider {
  public:
    kernel_provider(std::uint32_t flags, const GUID& guid) : enable_flags(flags), provider_guid(guid) {}

    std::uint32_t enable_flags;
    GUID provider_guid;
    // Top 3 bits: which of the eight mask words; low 29 bits: the bits to set in it.
    std::uint32_t group_mask = 0;
    std::uint32_t rundown_keywords = 0;
    bool rundown_requested = false;
};

// The kernel's process start and end events.
class process_provider : public kernel_provider {
  public:
    process_provider()
        : kernel_provider(tallowick::platform::sdk::event_trace_flag_process,
                          tallowick::platform::process_guid) {}
};

} // namespace etw::kernel
