#pragma once

#include "trace/kernel_provider.h"
#include "trace/provider.h"

#include <cstdint>
#include <deque>
#include <functional>

namespace etw {

// The providers registered with a session, in registration order. The session
// holds references only: a provider outlives its sessions and does not move.
using manifest_provider = provider<std::uint64_t>;
using manifest_provider_list = std::deque<std::reference_wrapper<const manifest_provider>>;
using kernel_provider_list = std::deque<std::reference_wrapper<const kernel::kernel_provider>>;

} // namespace etw
