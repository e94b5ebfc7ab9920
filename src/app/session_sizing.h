#pragma once
// The buffers each trace session asks for, within a memory budget of about
// 20 MiB of the kernel's non-paged memory at the worst of a burst (16 MiB file,
// 4 MiB kernel, 256 KiB process) and about 1.6 MiB when quiet. The reasons are
// in docs/decisions/session-buffers.md.

#include "trace/session_properties.h"

namespace tallowick::app {

// File activity comes in bursts of thousands of events a second: large buffers,
// one set per processor, room to grow to 16 MiB.
inline constexpr etw::session_buffers file_session_buffers{64, 16, 256, 1, true};
// Process starts and ends: a few hundred a second at the most.
inline constexpr etw::session_buffers kernel_session_buffers{64, 8, 64, 1, false};
// Its records reach no handler; small, so that it costs little.
inline constexpr etw::session_buffers process_session_buffers{16, 4, 16, 1, false};

// Microsoft-Windows-Kernel-Process: process events only (WINEVENT_KEYWORD_PROCESS),
// not every thread and image event of the provider.
inline constexpr std::uint64_t kernel_process_keyword_process = 0x10;

} // namespace tallowick::app
