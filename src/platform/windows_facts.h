#pragma once
// What Windows fixes and both the agent and the simulated machine rely on:
// statuses, the version test's values, well-known GUIDs and the events the
// agent watches. Each is named once, here, in lower case and never as a macro,
// so that none collides with the SDK's own spelling of it.

#include "platform/sdk/etw_types.h"

#include <cstdint>

namespace tallowick::platform {

// Win32 error codes: GetLastError and the results of the tracing calls.
inline constexpr std::uint32_t error_success = 0;
inline constexpr std::uint32_t error_access_denied = 5;
inline constexpr std::uint32_t error_invalid_handle = 6;
inline constexpr std::uint32_t error_bad_length = 24;
inline constexpr std::uint32_t error_not_supported = 50;
inline constexpr std::uint32_t error_invalid_parameter = 87;
inline constexpr std::uint32_t error_insufficient_buffer = 122;
inline constexpr std::uint32_t error_busy = 170;
inline constexpr std::uint32_t error_already_exists = 183;
inline constexpr std::uint32_t error_more_data = 234;
inline constexpr std::uint32_t error_not_found = 1168;
inline constexpr std::uint32_t error_not_all_assigned = 1300;
// A stop of a session already on its way to stopping: ControlTraceW's page
// names ERROR_ACTIVE_CONNECTIONS (2402), and 1230 (ERROR_CONNECTION_ACTIVE) is
// reported for the same case; both mean the session stops.
inline constexpr std::uint32_t error_connection_active = 1230;
inline constexpr std::uint32_t error_no_system_resources = 1450;
inline constexpr std::uint32_t error_timeout = 1460;
inline constexpr std::uint32_t error_active_connections = 2402;
inline constexpr std::uint32_t error_wmi_instance_not_found = 4201;
inline constexpr std::uint32_t error_ctx_close_pending = 7007;

// COM results (HRESULT).
inline constexpr std::int32_t s_ok = 0;
inline constexpr std::int32_t s_false = 1;
inline constexpr std::int32_t e_pointer = static_cast<std::int32_t>(0x80004003);
inline constexpr std::int32_t e_invalidarg = static_cast<std::int32_t>(0x80070057);

// COM apartments (CoInitializeEx) and the class context of CoCreateInstance
// (CLSCTX_SERVER: in-process, local or remote server).
inline constexpr std::uint32_t coinit_multithreaded = 0x0;
inline constexpr std::uint32_t coinit_apartmentthreaded = 0x2;
inline constexpr std::uint32_t clsctx_server = 0x15;

// The version test (VerifyVersionInfoW, VerSetConditionMask): the fields it
// compares, and the conditions one is compared by.
inline constexpr std::uint32_t ver_minorversion = 0x1;
inline constexpr std::uint32_t ver_majorversion = 0x2;
inline constexpr std::uint32_t ver_buildnumber = 0x4;
inline constexpr std::uint32_t ver_platformid = 0x8;
inline constexpr std::uint32_t ver_servicepackminor = 0x10;
inline constexpr std::uint32_t ver_servicepackmajor = 0x20;
inline constexpr std::uint32_t ver_product_type = 0x80;
inline constexpr std::uint8_t ver_equal = 1;
inline constexpr std::uint8_t ver_greater = 2;
inline constexpr std::uint8_t ver_greater_equal = 3;
inline constexpr std::uint8_t ver_less = 4;
inline constexpr std::uint8_t ver_less_equal = 5;

// The kernel logger's control GUID, and the class GUID of its process events.
inline constexpr GUID system_trace_control_guid{
    0x9E814AAD, 0x3204, 0x11D2, {0x9A, 0x82, 0x00, 0x60, 0x08, 0xA8, 0x69, 0x39}};
inline constexpr GUID process_guid{
    0x3D6FA8D0, 0xFE05, 0x11D0, {0x9D, 0xDA, 0x00, 0xC0, 0x4F, 0xD7, 0xBA, 0x7C}};

// The class of the trace system's own records (EventTraceGuid); in a real-time
// session its types 32, 33 and 34 (RT_LostEvent) say that events, a buffer or
// metadata were lost on their way to the consumer.
inline constexpr GUID event_trace_guid{
    0x68FDD900, 0x4A3E, 0x11D1, {0x84, 0xF4, 0x00, 0x00, 0xF8, 0x04, 0x64, 0xE3}};
inline constexpr std::uint8_t realtime_lost_event_type = 32;
inline constexpr std::uint8_t realtime_lost_buffer_type = 33;
inline constexpr std::uint8_t realtime_lost_metadata_type = 34;

// The two manifest providers the agent watches: Microsoft-Windows-Kernel-File
// and Microsoft-Windows-Kernel-Process.
inline constexpr GUID kernel_file_provider{
    0xEDD08927, 0x9CC4, 0x4E65, {0xB9, 0x70, 0xC2, 0x56, 0x0F, 0xB5, 0xC2, 0x89}};
inline constexpr GUID kernel_process_provider{
    0x22FB2CD6, 0x0E7B, 0x422B, {0xA0, 0xC7, 0x2F, 0xAD, 0x1F, 0xD0, 0xE7, 0x16}};

// The trace data provider collection (a COM class) that names the registered
// providers, the interface it is asked through, and that of its items.
inline constexpr GUID clsid_trace_data_provider_collection{
    0x03837511, 0x098B, 0x11D8, {0x94, 0x14, 0x50, 0x50, 0x54, 0x50, 0x30, 0x30}};
inline constexpr GUID iid_trace_data_provider_collection{
    0x03837510, 0x098B, 0x11D8, {0x94, 0x14, 0x50, 0x50, 0x54, 0x50, 0x30, 0x30}};
inline constexpr GUID iid_trace_data_provider{
    0x03837512, 0x098B, 0x11D8, {0x94, 0x14, 0x50, 0x50, 0x54, 0x50, 0x30, 0x30}};

// Kernel-File events by id (each also its task): a file created or opened, a
// path deleted, a path renamed, a new file created.
inline constexpr std::uint16_t file_create_event = 12;
inline constexpr std::uint16_t file_delete_path_event = 26;
inline constexpr std::uint16_t file_rename_path_event = 27;
inline constexpr std::uint16_t file_create_new_file_event = 30;

// The kernel logger's process events all carry id 0; the opcode (the event
// type) tells a start from an end.
inline constexpr std::uint8_t process_start_opcode = 1;
inline constexpr std::uint8_t process_end_opcode = 2;
// The rundown: one record per process running when a kernel session starts
// (DCStart), and when it stops (DCEnd).
inline constexpr std::uint8_t rundown_start_opcode = 3;
inline constexpr std::uint8_t rundown_end_opcode = 4;

} // namespace tallowick::platform
