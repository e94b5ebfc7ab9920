// A stand-in tdh.dll for running the unmodified Windows program under Wine with
// WINEDLLOVERRIDES=tdh=n: it answers the TDH calls itself and, when loaded,
// points the program's trace calls at the simulated machine's tracing half.
// Everything else the program calls stays the system's own.
#include "e2e/harness/harness_machine.h"
#include "e2e/harness/import_table.h"
#include "e2e/harness/redirected_calls.h"

#include <windows.h>

#include <tdh.h>

#include <cstdint>
#include <string>

namespace {
using namespace tallowick::testing::harness;

void redirect_program_imports() {
    for (const named_import& import : named_imports(GetModuleHandleW(nullptr))) {
        const redirected_call* found = nullptr;
        for (const redirected_call& call : redirected_calls())
            if (call.dll == import.dll && call.name == import.name)
                found = &call;
        if (found != nullptr) {
            if (!redirect(import, found->replacement))
                refuse("cannot redirect " + import.name + ": error " + std::to_string(GetLastError()), 3);
        } else if (is_trace_call(import.dll, import.name)) {
            refuse("the program imports " + import.name + " from " + import.dll +
                       ", a trace call the harness does not redirect",
                   3);
        }
    }
}
} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    // The loader has filled the program's import table before it runs this.
    if (reason == DLL_PROCESS_ATTACH)
        redirect_program_imports();
    return TRUE;
}

extern "C" ULONG WINAPI TdhGetEventInformation(PEVENT_RECORD record, ULONG context_count,
                                               PTDH_CONTEXT context, PTRACE_EVENT_INFO buffer,
                                               PULONG buffer_size) {
    std::uint32_t size = buffer_size == nullptr ? 0 : *buffer_size;
    const std::uint32_t status = machine_tracing().tdh_get_event_information(
        record, context_count, context, buffer, buffer_size == nullptr ? nullptr : &size);
    if (buffer_size != nullptr)
        *buffer_size = size;
    return status;
}

extern "C" ULONG WINAPI TdhGetPropertySize(PEVENT_RECORD record, ULONG context_count, PTDH_CONTEXT context,
                                           ULONG descriptor_count, PPROPERTY_DATA_DESCRIPTOR descriptors,
                                           PULONG property_size) {
    std::uint32_t size = property_size == nullptr ? 0 : *property_size;
    const std::uint32_t status =
        machine_tracing().tdh_get_property_size(record, context_count, context, descriptor_count, descriptors,
                                                property_size == nullptr ? nullptr : &size);
    if (property_size != nullptr)
        *property_size = size;
    return status;
}
