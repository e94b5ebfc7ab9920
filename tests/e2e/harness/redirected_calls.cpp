#include "e2e/harness/redirected_calls.h"

#include "e2e/harness/harness_machine.h"
#include "e2e/harness/provider_collection.h"

#include <windows.h>

#include <evntrace.h>

#include <array>
#include <cstdint>
#include <string>

namespace tallowick::testing::harness {
namespace {

// A UTF-16 argument as the simulated machine takes it; null stays null.
class u16_argument {
  public:
    explicit u16_argument(const wchar_t* text) : null_(text == nullptr) {
        if (text != nullptr)
            text_.assign(text, text + wcslen(text));
    }
    const char16_t* get() const { return null_ ? nullptr : text_.c_str(); }

  private:
    bool null_;
    std::u16string text_;
};

ULONG WINAPI start_trace_w(PTRACEHANDLE handle, LPCWSTR name, PEVENT_TRACE_PROPERTIES properties) {
    return machine_tracing().start_trace(handle, u16_argument(name).get(), properties);
}

ULONG WINAPI control_trace_w(TRACEHANDLE handle, LPCWSTR name, PEVENT_TRACE_PROPERTIES properties,
                             ULONG control_code) {
    return machine_tracing().control_trace(handle, u16_argument(name).get(), properties, control_code);
}

ULONG WINAPI enable_trace_ex2(TRACEHANDLE handle, LPCGUID provider, ULONG control_code, UCHAR level,
                              ULONGLONG match_any_keyword, ULONGLONG match_all_keyword, ULONG timeout,
                              PENABLE_TRACE_PARAMETERS parameters) {
    return machine_tracing().enable_trace_ex2(handle, provider, control_code, level, match_any_keyword,
                                              match_all_keyword, timeout, parameters);
}

TRACEHANDLE WINAPI open_trace_w(PEVENT_TRACE_LOGFILEW logfile) {
    return machine_tracing().open_trace(logfile);
}

ULONG WINAPI process_trace(PTRACEHANDLE handles, ULONG handle_count, LPFILETIME start_time,
                           LPFILETIME end_time) {
    return machine_tracing().process_trace(handles, handle_count, start_time, end_time);
}

ULONG WINAPI close_trace(TRACEHANDLE handle) {
    return machine_tracing().close_trace(handle);
}

HRESULT WINAPI co_initialize_ex(LPVOID reserved, DWORD co_init) {
    return machine_tracing().co_initialize_ex(reserved, co_init);
}

void WINAPI co_uninitialize() {
    machine_tracing().co_uninitialize();
}

HRESULT WINAPI co_create_instance(REFCLSID clsid, LPUNKNOWN outer, DWORD class_context, REFIID iid,
                                  LPVOID* object) {
    if (is_provider_collection(clsid))
        return create_provider_collection(clsid, outer, class_context, iid, object);
    // Any other class is the system's; as the program joined only the simulated
    // machine's apartment, the system answers CO_E_NOTINITIALIZED, which is
    // what the program would see without CoInitializeEx.
    return CoCreateInstance(clsid, outer, class_context, iid, object);
}

LONG NTAPI nt_query_system_information(ULONG information_class, PVOID information, ULONG length,
                                       PULONG return_length) {
    std::uint32_t returned = return_length == nullptr ? 0 : *return_length;
    const std::uint32_t status = machine_tracing().nt_query_system_information(
        information_class, information, length, return_length == nullptr ? nullptr : &returned);
    if (return_length != nullptr)
        *return_length = returned;
    return static_cast<LONG>(status);
}

LONG NTAPI nt_set_system_information(ULONG information_class, PVOID information, ULONG length) {
    return static_cast<LONG>(
        machine_tracing().nt_set_system_information(information_class, information, length));
}

ULONG WINAPI enumerate_trace_guids_ex(TRACE_QUERY_INFO_CLASS query_class, PVOID in_buffer, ULONG in_size,
                                      PVOID out_buffer, ULONG out_size, PULONG return_length) {
    std::uint32_t returned = 0;
    const std::uint32_t status = machine_tracing().enumerate_trace_guids_ex(
        static_cast<std::uint32_t>(query_class), in_buffer, in_size, out_buffer, out_size, &returned);
    if (return_length != nullptr)
        *return_length = returned;
    return status;
}

// Any function's address as a plain pointer, for the import table.
template <typename Function> void* address_of(Function* function) {
    return reinterpret_cast<void*>(reinterpret_cast<std::uintptr_t>(function));
}

// The calls the program looks up by name: the kernel's group-mask calls in
// ntdll, and EnumerateTraceGuidsEx, which Wine exports from sechost only.
struct looked_up_call {
    const wchar_t* dll;
    std::string_view name;
    void* replacement;
};
const std::array<looked_up_call, 4> looked_up_calls{{
    {L"ntdll.dll", "NtQuerySystemInformation", address_of(&nt_query_system_information)},
    {L"ntdll.dll", "NtSetSystemInformation", address_of(&nt_set_system_information)},
    {L"advapi32.dll", "EnumerateTraceGuidsEx", address_of(&enumerate_trace_guids_ex)},
    {L"sechost.dll", "EnumerateTraceGuidsEx", address_of(&enumerate_trace_guids_ex)},
}};

FARPROC WINAPI get_proc_address(HMODULE module, LPCSTR name) {
    // A name rather than an ordinal (whose pointer value fits in 16 bits).
    const bool by_name = reinterpret_cast<std::uintptr_t>(name) > 0xFFFF;
    if (by_name && module != nullptr)
        for (const looked_up_call& call : looked_up_calls)
            if (call.name == name && module == GetModuleHandleW(call.dll))
                return reinterpret_cast<FARPROC>(reinterpret_cast<std::uintptr_t>(call.replacement));
    return GetProcAddress(module, name);
}

const std::array<redirected_call, 10> calls{{
    {"advapi32.dll", "StartTraceW", address_of(&start_trace_w)},
    {"advapi32.dll", "ControlTraceW", address_of(&control_trace_w)},
    {"advapi32.dll", "EnableTraceEx2", address_of(&enable_trace_ex2)},
    {"advapi32.dll", "OpenTraceW", address_of(&open_trace_w)},
    {"advapi32.dll", "ProcessTrace", address_of(&process_trace)},
    {"advapi32.dll", "CloseTrace", address_of(&close_trace)},
    {"ole32.dll", "CoInitializeEx", address_of(&co_initialize_ex)},
    {"ole32.dll", "CoUninitialize", address_of(&co_uninitialize)},
    {"ole32.dll", "CoCreateInstance", address_of(&co_create_instance)},
    {"kernel32.dll", "GetProcAddress", address_of(&get_proc_address)},
}};

} // namespace

std::span<const redirected_call> redirected_calls() {
    return calls;
}

bool is_trace_call(std::string_view dll, std::string_view name) {
    // Event tracing lives in advapi32 (sechost under it) and behind the
    // api-ms-win-eventing sets; the group-mask calls must come through
    // GetProcAddress, where the harness answers them (EnumerateTraceGuidsEx too).
    const bool tracing_dll =
        dll == "advapi32.dll" || dll == "sechost.dll" || dll.starts_with("api-ms-win-eventing");
    if (tracing_dll && name.find("Trace") != std::string_view::npos)
        return true;
    if (dll == "ntdll.dll")
        for (const looked_up_call& call : looked_up_calls)
            if (call.name == name)
                return true;
    return false;
}

} // namespace tallowick::testing::harness
