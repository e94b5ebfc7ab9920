#pragma once

#include <span>
#include <string_view>

namespace tallowick::testing::harness {

// One import of the program that the harness answers instead of Windows.
struct redirected_call {
    std::string_view dll; // lower case
    std::string_view name;
    void* replacement;
};

// Every call the harness takes over (the trace-session calls, the COM calls of
// the provider look-up, and GetProcAddress for the kernel's group-mask calls);
// everything else stays the system's own.
std::span<const redirected_call> redirected_calls();

// Whether an import is a trace call: one the harness must redirect for the
// program to trace on the simulated machine. A trace call that is not in
// redirected_calls() would reach the system's stub and prove nothing.
bool is_trace_call(std::string_view dll, std::string_view name);

} // namespace tallowick::testing::harness
