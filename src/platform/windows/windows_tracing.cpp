#include "platform/windows/windows_tracing.h"

#include "platform/windows/trace_data_provider.h"
#include "platform/windows/wide_text.h"

#include <windows.h>

#include <objbase.h>
#include <oleauto.h>

#include <memory>
#include <string>
#include <type_traits>

namespace tallowick::platform::windows {
namespace {
// The SDK hands ULONG (unsigned long) where the interface has std::uint32_t:
// same size on Windows, different types, so values are copied, never aliased.
static_assert(sizeof(ULONG) == sizeof(std::uint32_t));
static_assert(sizeof(long) == sizeof(std::int32_t));

// The consumer's callbacks are set by portable code with the interface's types;
// on x64 there is one calling convention, so they are the SDK's own types.
static_assert(std::is_same_v<PEVENT_RECORD_CALLBACK, void (*)(EVENT_RECORD*)>);
static_assert(std::is_same_v<PEVENT_TRACE_BUFFER_CALLBACKW, sdk::ulong (*)(EVENT_TRACE_LOGFILEW*)>);

// A NUL-terminated UTF-16 argument as wchar_t; null stays null.
class wide_argument {
  public:
    explicit wide_argument(const char16_t* text)
        : null_(text == nullptr), text_(text == nullptr ? std::wstring() : to_wide(text)) {}
    const wchar_t* get() const { return null_ ? nullptr : text_.c_str(); }

  private:
    bool null_;
    std::wstring text_;
};

struct co_task_free {
    void operator()(wchar_t* memory) const { CoTaskMemFree(memory); }
};
struct sys_free_string {
    void operator()(wchar_t* text) const { SysFreeString(text); }
};
using owned_bstr = std::unique_ptr<wchar_t, sys_free_string>;

// NtQuerySystemInformation and NtSetSystemInformation are exported by ntdll
// (loaded in every process) but declared by no SDK header this build can rely
// on, so they are looked up by name once.
using nt_query_function = LONG(NTAPI*)(ULONG, PVOID, ULONG, PULONG);
using nt_set_function = LONG(NTAPI*)(ULONG, PVOID, ULONG);
constexpr std::uint32_t status_procedure_not_found = 0xC000007A;

template <typename Function> Function module_function(const wchar_t* module_name, const char* name) {
    const HMODULE module = GetModuleHandleW(module_name);
    const FARPROC address = module == nullptr ? nullptr : GetProcAddress(module, name);
    // Through the generic function pointer type, which any function pointer
    // converts to and from without a cast-function-type warning.
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address));
}

template <typename Function> Function ntdll_function(const char* name) {
    return module_function<Function>(L"ntdll.dll", name);
}

// Looked up when first called: Wine 8 exports it from sechost.dll only, and an
// import from advapi32.dll would keep the program from loading there.
using enumerate_trace_guids_function = ULONG(WINAPI*)(TRACE_QUERY_INFO_CLASS, PVOID, ULONG, PVOID, ULONG,
                                                      PULONG);
enumerate_trace_guids_function enumerate_trace_guids() {
    const auto from_advapi32 =
        module_function<enumerate_trace_guids_function>(L"advapi32.dll", "EnumerateTraceGuidsEx");
    return from_advapi32 != nullptr
               ? from_advapi32
               : module_function<enumerate_trace_guids_function>(L"sechost.dll", "EnumerateTraceGuidsEx");
}

ITraceDataProviderCollection* as_collection(void* object) {
    return static_cast<ITraceDataProviderCollection*>(object);
}
ITraceDataProvider* as_provider(void* object) {
    return static_cast<ITraceDataProvider*>(object);
}
} // namespace

std::uint32_t windows_tracing::start_trace(trace_handle* handle, const char16_t* name,
                                           EVENT_TRACE_PROPERTIES* properties) {
    const wide_argument wide_name(name);
    return StartTraceW(handle, wide_name.get(), properties);
}

std::uint32_t windows_tracing::control_trace(trace_handle handle, const char16_t* name,
                                             EVENT_TRACE_PROPERTIES* properties, std::uint32_t control_code) {
    const wide_argument wide_name(name);
    return ControlTraceW(handle, wide_name.get(), properties, control_code);
}

std::uint32_t windows_tracing::enable_trace_ex2(trace_handle handle, const GUID* provider,
                                                std::uint32_t control_code, std::uint8_t level,
                                                std::uint64_t match_any_keyword,
                                                std::uint64_t match_all_keyword, std::uint32_t timeout,
                                                const ENABLE_TRACE_PARAMETERS* parameters) {
    // The SDK declares the parameters non-const; the call only reads them.
    return EnableTraceEx2(handle, provider, control_code, level, match_any_keyword, match_all_keyword,
                          timeout, const_cast<ENABLE_TRACE_PARAMETERS*>(parameters));
}

trace_handle windows_tracing::open_trace(EVENT_TRACE_LOGFILEW* logfile) {
    return OpenTraceW(logfile);
}

std::uint32_t windows_tracing::process_trace(trace_handle* handles, std::uint32_t handle_count,
                                             const FILETIME* start_time, const FILETIME* end_time) {
    return ProcessTrace(handles, handle_count, const_cast<FILETIME*>(start_time),
                        const_cast<FILETIME*>(end_time));
}

std::uint32_t windows_tracing::close_trace(trace_handle handle) {
    return CloseTrace(handle);
}

std::uint32_t windows_tracing::tdh_get_event_information(const EVENT_RECORD* record,
                                                         std::uint32_t context_count,
                                                         const TDH_CONTEXT* context, TRACE_EVENT_INFO* buffer,
                                                         std::uint32_t* buffer_size) {
    ULONG size = buffer_size == nullptr ? 0 : *buffer_size;
    const ULONG status = TdhGetEventInformation(const_cast<EVENT_RECORD*>(record), context_count,
                                                const_cast<TDH_CONTEXT*>(context), buffer,
                                                buffer_size == nullptr ? nullptr : &size);
    if (buffer_size != nullptr)
        *buffer_size = size;
    return status;
}

std::uint32_t windows_tracing::tdh_get_property_size(const EVENT_RECORD* record, std::uint32_t context_count,
                                                     const TDH_CONTEXT* context,
                                                     std::uint32_t descriptor_count,
                                                     const PROPERTY_DATA_DESCRIPTOR* descriptors,
                                                     std::uint32_t* property_size) {
    ULONG size = property_size == nullptr ? 0 : *property_size;
    const ULONG status = TdhGetPropertySize(
        const_cast<EVENT_RECORD*>(record), context_count, const_cast<TDH_CONTEXT*>(context), descriptor_count,
        const_cast<PROPERTY_DATA_DESCRIPTOR*>(descriptors), property_size == nullptr ? nullptr : &size);
    if (property_size != nullptr)
        *property_size = size;
    return status;
}

std::uint32_t windows_tracing::enumerate_trace_guids_ex(std::uint32_t query_class, const void* in_buffer,
                                                        std::uint32_t in_size, void* out_buffer,
                                                        std::uint32_t out_size, std::uint32_t* returned) {
    static const auto enumerate = enumerate_trace_guids();
    if (enumerate == nullptr)
        return ERROR_PROC_NOT_FOUND;
    ULONG length = 0;
    const ULONG status = enumerate(static_cast<TRACE_QUERY_INFO_CLASS>(query_class),
                                   const_cast<void*>(in_buffer), in_size, out_buffer, out_size, &length);
    if (returned != nullptr)
        *returned = length;
    return status;
}

std::uint32_t windows_tracing::nt_query_system_information(std::uint32_t information_class, void* information,
                                                           std::uint32_t length,
                                                           std::uint32_t* return_length) {
    static const auto query = ntdll_function<nt_query_function>("NtQuerySystemInformation");
    if (query == nullptr)
        return status_procedure_not_found;
    ULONG returned = return_length == nullptr ? 0 : *return_length;
    const LONG status =
        query(information_class, information, length, return_length == nullptr ? nullptr : &returned);
    if (return_length != nullptr)
        *return_length = returned;
    return static_cast<std::uint32_t>(status);
}

std::uint32_t windows_tracing::nt_set_system_information(std::uint32_t information_class, void* information,
                                                         std::uint32_t length) {
    static const auto set = ntdll_function<nt_set_function>("NtSetSystemInformation");
    if (set == nullptr)
        return status_procedure_not_found;
    return static_cast<std::uint32_t>(set(information_class, information, length));
}

std::uint64_t windows_tracing::ver_set_condition_mask(std::uint64_t condition_mask, std::uint32_t type_mask,
                                                      std::uint8_t condition) {
    return VerSetConditionMask(condition_mask, type_mask, condition);
}

std::int32_t windows_tracing::verify_version_info(OSVERSIONINFOEXW* info, std::uint32_t type_mask,
                                                  std::uint64_t condition_mask) {
    return VerifyVersionInfoW(info, type_mask, condition_mask);
}

std::int64_t windows_tracing::query_performance_counter() {
    LARGE_INTEGER counter{};
    QueryPerformanceCounter(&counter);
    return counter.QuadPart;
}

std::int64_t windows_tracing::query_performance_frequency() {
    LARGE_INTEGER frequency{};
    return QueryPerformanceFrequency(&frequency) ? frequency.QuadPart : 0;
}

std::int64_t windows_tracing::system_time() {
    // Precise from Windows 8 on; Windows 7 has only the tick-grained clock.
    using precise_clock = void(WINAPI*)(FILETIME*);
    static const auto precise = reinterpret_cast<precise_clock>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetSystemTimePreciseAsFileTime")));
    FILETIME now{};
    if (precise != nullptr)
        precise(&now);
    else
        GetSystemTimeAsFileTime(&now);
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(now.dwHighDateTime) << 32) |
                                     now.dwLowDateTime);
}

hresult windows_tracing::co_create_guid(GUID* guid) {
    return CoCreateGuid(guid);
}

hresult windows_tracing::string_from_clsid(const GUID& clsid, std::u16string& text) {
    LPOLESTR raw = nullptr;
    const HRESULT status = StringFromCLSID(clsid, &raw);
    const std::unique_ptr<wchar_t, co_task_free> owned(raw);
    if (SUCCEEDED(status) && owned != nullptr)
        text = from_wide(owned.get());
    return status;
}

hresult windows_tracing::co_initialize_ex(void* reserved, std::uint32_t co_init) {
    return CoInitializeEx(reserved, co_init);
}

void windows_tracing::co_uninitialize() {
    CoUninitialize();
}

hresult windows_tracing::co_create_instance(const GUID& clsid, void* outer, std::uint32_t class_context,
                                            const GUID& iid, void** object) {
    return CoCreateInstance(clsid, static_cast<IUnknown*>(outer), class_context, iid, object);
}

hresult windows_tracing::get_trace_data_providers(void* collection, const char16_t* server) {
    owned_bstr server_name;
    if (server != nullptr) {
        server_name.reset(SysAllocString(to_wide(server).c_str()));
        if (server_name == nullptr)
            return E_OUTOFMEMORY;
    }
    return as_collection(collection)->GetTraceDataProviders(server_name.get());
}

hresult windows_tracing::get_count(void* collection, std::int32_t* count) {
    long value = 0;
    const HRESULT status = as_collection(collection)->get_Count(&value);
    if (SUCCEEDED(status))
        *count = value;
    return status;
}

hresult windows_tracing::get_item(void* collection, std::uint32_t index, void** provider) {
    VARIANT position;
    VariantInit(&position);
    V_VT(&position) = VT_UI4;
    V_UI4(&position) = index;
    ITraceDataProvider* item = nullptr;
    const HRESULT status = as_collection(collection)->get_Item(position, &item);
    *provider = item;
    return status;
}

hresult windows_tracing::get_display_name(void* provider, std::optional<std::u16string>& display_name) {
    BSTR raw = nullptr;
    const HRESULT status = as_provider(provider)->get_DisplayName(&raw);
    const owned_bstr name(raw);
    if (SUCCEEDED(status)) {
        if (name == nullptr)
            display_name.reset();
        else
            display_name = from_wide(std::wstring_view(name.get(), SysStringLen(name.get())));
    }
    return status;
}

hresult windows_tracing::get_guid(void* provider, GUID* guid) {
    return as_provider(provider)->get_Guid(guid);
}

std::uint32_t windows_tracing::release(void* object) {
    return static_cast<IUnknown*>(object)->Release();
}

} // namespace tallowick::platform::windows
