#pragma once

#include "platform/tracing_api.h"

namespace tallowick::platform::windows {

// The tracing interface on Windows: each operation is the platform call its
// declaration names, with the SDK structures handed straight through, UTF-16
// texts copied between char16_t and wchar_t, and COM objects passed as their
// interface pointers.
class windows_tracing final : public tracing_api {
  public:
    std::uint32_t start_trace(trace_handle* handle, const char16_t* name,
                              EVENT_TRACE_PROPERTIES* properties) override;
    std::uint32_t control_trace(trace_handle handle, const char16_t* name, EVENT_TRACE_PROPERTIES* properties,
                                std::uint32_t control_code) override;
    std::uint32_t enable_trace_ex2(trace_handle handle, const GUID* provider, std::uint32_t control_code,
                                   std::uint8_t level, std::uint64_t match_any_keyword,
                                   std::uint64_t match_all_keyword, std::uint32_t timeout,
                                   const ENABLE_TRACE_PARAMETERS* parameters) override;
    trace_handle open_trace(EVENT_TRACE_LOGFILEW* logfile) override;
    std::uint32_t process_trace(trace_handle* handles, std::uint32_t handle_count, const FILETIME* start_time,
                                const FILETIME* end_time) override;
    std::uint32_t close_trace(trace_handle handle) override;

    std::uint32_t tdh_get_event_information(const EVENT_RECORD* record, std::uint32_t context_count,
                                            const TDH_CONTEXT* context, TRACE_EVENT_INFO* buffer,
                                            std::uint32_t* buffer_size) override;
    std::uint32_t tdh_get_property_size(const EVENT_RECORD* record, std::uint32_t context_count,
                                        const TDH_CONTEXT* context, std::uint32_t descriptor_count,
                                        const PROPERTY_DATA_DESCRIPTOR* descriptors,
                                        std::uint32_t* property_size) override;

    std::uint32_t enumerate_trace_guids_ex(std::uint32_t query_class, const void* in_buffer,
                                           std::uint32_t in_size, void* out_buffer, std::uint32_t out_size,
                                           std::uint32_t* returned) override;
    std::uint32_t nt_query_system_information(std::uint32_t information_class, void* information,
                                              std::uint32_t length, std::uint32_t* return_length) override;
    std::uint32_t nt_set_system_information(std::uint32_t information_class, void* information,
                                            std::uint32_t length) override;

    std::uint64_t ver_set_condition_mask(std::uint64_t condition_mask, std::uint32_t type_mask,
                                         std::uint8_t condition) override;
    std::int32_t verify_version_info(OSVERSIONINFOEXW* info, std::uint32_t type_mask,
                                     std::uint64_t condition_mask) override;

    std::int64_t query_performance_counter() override;
    std::int64_t query_performance_frequency() override;
    std::int64_t system_time() override;
    hresult co_create_guid(GUID* guid) override;
    hresult string_from_clsid(const GUID& clsid, std::u16string& text) override;
    hresult co_initialize_ex(void* reserved, std::uint32_t co_init) override;
    void co_uninitialize() override;
    hresult co_create_instance(const GUID& clsid, void* outer, std::uint32_t class_context, const GUID& iid,
                               void** object) override;
    hresult get_trace_data_providers(void* collection, const char16_t* server) override;
    hresult get_count(void* collection, std::int32_t* count) override;
    hresult get_item(void* collection, std::uint32_t index, void** provider) override;
    hresult get_display_name(void* provider, std::optional<std::u16string>& display_name) override;
    hresult get_guid(void* provider, GUID* guid) override;
    std::uint32_t release(void* object) override;
};

} // namespace tallowick::platform::windows
