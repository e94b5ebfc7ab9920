#pragma once

#include "platform/sdk/etw_types.h"

#include <cstdint>
#include <optional>
#include <string>

namespace tallowick::platform {

using trace_handle = TRACEHANDLE;
// A COM HRESULT: negative means failure.
using hresult = std::int32_t;

// Event tracing (controller and consumer), trace decoding (TDH), the kernel
// group-mask calls, the version test and the COM calls the trace layer makes,
// one virtual function per platform call with the call's own arguments. Statuses
// are the platform's, unchanged; every decision lives in the code that calls.
class tracing_api {
  public:
    virtual ~tracing_api() = default;

    // StartTraceW(handle, name, properties). `properties` is the whole block
    // (Wnode.BufferSize bytes, the name areas included).
    virtual std::uint32_t start_trace(trace_handle* handle, const char16_t* name,
                                      EVENT_TRACE_PROPERTIES* properties) = 0;
    // ControlTraceW(handle, name, properties, control_code).
    virtual std::uint32_t control_trace(trace_handle handle, const char16_t* name,
                                        EVENT_TRACE_PROPERTIES* properties, std::uint32_t control_code) = 0;
    // EnableTraceEx2(handle, provider, control_code, level, match_any, match_all,
    // timeout, parameters); `parameters` may be null.
    virtual std::uint32_t enable_trace_ex2(trace_handle handle, const GUID* provider,
                                           std::uint32_t control_code, std::uint8_t level,
                                           std::uint64_t match_any_keyword, std::uint64_t match_all_keyword,
                                           std::uint32_t timeout,
                                           const ENABLE_TRACE_PARAMETERS* parameters) = 0;
    // OpenTraceW(logfile): a consumer handle or sdk::invalid_processtrace_handle.
    virtual trace_handle open_trace(EVENT_TRACE_LOGFILEW* logfile) = 0;
    // ProcessTrace(handles, count, start, end): blocks and calls the logfile's
    // callbacks on the calling thread until the session ends.
    virtual std::uint32_t process_trace(trace_handle* handles, std::uint32_t handle_count,
                                        const FILETIME* start_time, const FILETIME* end_time) = 0;
    // CloseTrace(handle).
    virtual std::uint32_t close_trace(trace_handle handle) = 0;

    // TdhGetEventInformation(record, context_count, context, buffer, buffer_size).
    virtual std::uint32_t tdh_get_event_information(const EVENT_RECORD* record, std::uint32_t context_count,
                                                    const TDH_CONTEXT* context, TRACE_EVENT_INFO* buffer,
                                                    std::uint32_t* buffer_size) = 0;
    // TdhGetPropertySize(record, context_count, context, descriptor_count,
    // descriptors, property_size).
    virtual std::uint32_t tdh_get_property_size(const EVENT_RECORD* record, std::uint32_t context_count,
                                                const TDH_CONTEXT* context, std::uint32_t descriptor_count,
                                                const PROPERTY_DATA_DESCRIPTOR* descriptors,
                                                std::uint32_t* property_size) = 0;

    // EnumerateTraceGuidsEx(query_class, in, in_size, out, out_size, returned):
    // 122 and the size needed for a short buffer.
    virtual std::uint32_t enumerate_trace_guids_ex(std::uint32_t query_class, const void* in_buffer,
                                                   std::uint32_t in_size, void* out_buffer,
                                                   std::uint32_t out_size, std::uint32_t* returned) = 0;
    // NtQuerySystemInformation(class, information, length, return_length) and
    // NtSetSystemInformation(class, information, length); NTSTATUS results.
    virtual std::uint32_t nt_query_system_information(std::uint32_t information_class, void* information,
                                                      std::uint32_t length, std::uint32_t* return_length) = 0;
    virtual std::uint32_t nt_set_system_information(std::uint32_t information_class, void* information,
                                                    std::uint32_t length) = 0;

    // VerSetConditionMask(condition_mask, type_mask, condition).
    virtual std::uint64_t ver_set_condition_mask(std::uint64_t condition_mask, std::uint32_t type_mask,
                                                 std::uint8_t condition) = 0;
    // VerifyVersionInfoW(info, type_mask, condition_mask): nonzero when it holds.
    virtual std::int32_t verify_version_info(OSVERSIONINFOEXW* info, std::uint32_t type_mask,
                                             std::uint64_t condition_mask) = 0;

    // QueryPerformanceCounter, QueryPerformanceFrequency (0 where there is
    // none) and GetSystemTimePreciseAsFileTime: the clocks a consumer of raw
    // time stamps converts them with.
    virtual std::int64_t query_performance_counter() = 0;
    virtual std::int64_t query_performance_frequency() = 0;
    virtual std::int64_t system_time() = 0;

    // CoCreateGuid(guid).
    virtual hresult co_create_guid(GUID* guid) = 0;
    // StringFromCLSID(clsid, &text), the text copied out and freed with
    // CoTaskMemFree; `text` is left alone on failure.
    virtual hresult string_from_clsid(const GUID& clsid, std::u16string& text) = 0;

    // CoInitializeEx(reserved, co_init) and CoUninitialize().
    virtual hresult co_initialize_ex(void* reserved, std::uint32_t co_init) = 0;
    virtual void co_uninitialize() = 0;
    // CoCreateInstance(clsid, outer, class_context, iid, object).
    virtual hresult co_create_instance(const GUID& clsid, void* outer, std::uint32_t class_context,
                                       const GUID& iid, void** object) = 0;
    // ITraceDataProviderCollection::GetTraceDataProviders(server); a null server
    // is the local machine.
    virtual hresult get_trace_data_providers(void* collection, const char16_t* server) = 0;
    // ITraceDataProviderCollection::get_Count(count).
    virtual hresult get_count(void* collection, std::int32_t* count) = 0;
    // ITraceDataProviderCollection::get_Item with a VT_UI4 VARIANT holding `index`.
    virtual hresult get_item(void* collection, std::uint32_t index, void** provider) = 0;
    // ITraceDataProvider::get_DisplayName: the BSTR's text copied out (nothing
    // for a null BSTR) and freed with SysFreeString.
    virtual hresult get_display_name(void* provider, std::optional<std::u16string>& display_name) = 0;
    // ITraceDataProvider::get_Guid(guid).
    virtual hresult get_guid(void* provider, GUID* guid) = 0;
    // IUnknown::Release of a collection or a provider object.
    virtual std::uint32_t release(void* object) = 0;
};

// The realisation in force for the process, installed once before any subsystem
// uses it (the program installs the real or the simulated one; tests their own).
tracing_api& current_tracing();
// Installs `api` and returns the one it replaces (may be null).
tracing_api* install_tracing(tracing_api* api);

// Installs a realisation for one scope and puts the previous one back.
class scoped_tracing {
  public:
    explicit scoped_tracing(tracing_api& api) : previous_(install_tracing(&api)) {}
    ~scoped_tracing() { install_tracing(previous_); }
    scoped_tracing(const scoped_tracing&) = delete;
    scoped_tracing& operator=(const scoped_tracing&) = delete;

  private:
    tracing_api* previous_;
};

} // namespace tallowick::platform
