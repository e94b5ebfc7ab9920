// Compile-time checks that the SDK structures have the x64 layout Windows uses.
// Off Windows they check our own definitions; on Windows the SDK's, so both
// builds agree on every offset the trace layer and the simulated machine rely on.
#include "platform/sdk/etw_types.h"
#include "platform/windows_facts.h"

#include <cstddef>

#if defined(_WIN32)
#include <objbase.h> // the COM apartment and class-context values
#endif

#if UINTPTR_MAX == 0xFFFFFFFFFFFFFFFFu

#define TALLOWICK_CHECK_OFFSET(type, field, offset)                                                          \
    static_assert(offsetof(type, field) == (offset), #type "." #field " is not at " #offset)

static_assert(sizeof(tallowick::platform::sdk::wide_char) == 2);
static_assert(sizeof(GUID) == 16);
static_assert(sizeof(FILETIME) == 8);

static_assert(sizeof(EVENT_DESCRIPTOR) == 16);
TALLOWICK_CHECK_OFFSET(EVENT_DESCRIPTOR, Id, 0);
TALLOWICK_CHECK_OFFSET(EVENT_DESCRIPTOR, Version, 2);
TALLOWICK_CHECK_OFFSET(EVENT_DESCRIPTOR, Channel, 3);
TALLOWICK_CHECK_OFFSET(EVENT_DESCRIPTOR, Level, 4);
TALLOWICK_CHECK_OFFSET(EVENT_DESCRIPTOR, Opcode, 5);
TALLOWICK_CHECK_OFFSET(EVENT_DESCRIPTOR, Task, 6);
TALLOWICK_CHECK_OFFSET(EVENT_DESCRIPTOR, Keyword, 8);

static_assert(sizeof(EVENT_HEADER) == 80);
TALLOWICK_CHECK_OFFSET(EVENT_HEADER, Size, 0);
TALLOWICK_CHECK_OFFSET(EVENT_HEADER, HeaderType, 2);
TALLOWICK_CHECK_OFFSET(EVENT_HEADER, Flags, 4);
TALLOWICK_CHECK_OFFSET(EVENT_HEADER, EventProperty, 6);
TALLOWICK_CHECK_OFFSET(EVENT_HEADER, ThreadId, 8);
TALLOWICK_CHECK_OFFSET(EVENT_HEADER, ProcessId, 12);
TALLOWICK_CHECK_OFFSET(EVENT_HEADER, TimeStamp, 16);
TALLOWICK_CHECK_OFFSET(EVENT_HEADER, ProviderId, 24);
TALLOWICK_CHECK_OFFSET(EVENT_HEADER, EventDescriptor, 40);
TALLOWICK_CHECK_OFFSET(EVENT_HEADER, ProcessorTime, 56);
TALLOWICK_CHECK_OFFSET(EVENT_HEADER, ActivityId, 64);

static_assert(sizeof(ETW_BUFFER_CONTEXT) == 4);
TALLOWICK_CHECK_OFFSET(ETW_BUFFER_CONTEXT, ProcessorIndex, 0);
TALLOWICK_CHECK_OFFSET(ETW_BUFFER_CONTEXT, LoggerId, 2);

static_assert(sizeof(EVENT_HEADER_EXTENDED_DATA_ITEM) == 16);
TALLOWICK_CHECK_OFFSET(EVENT_HEADER_EXTENDED_DATA_ITEM, ExtType, 2);
TALLOWICK_CHECK_OFFSET(EVENT_HEADER_EXTENDED_DATA_ITEM, DataSize, 6);
TALLOWICK_CHECK_OFFSET(EVENT_HEADER_EXTENDED_DATA_ITEM, DataPtr, 8);

static_assert(sizeof(EVENT_RECORD) == 112);
TALLOWICK_CHECK_OFFSET(EVENT_RECORD, EventHeader, 0);
TALLOWICK_CHECK_OFFSET(EVENT_RECORD, BufferContext, 80);
TALLOWICK_CHECK_OFFSET(EVENT_RECORD, ExtendedDataCount, 84);
TALLOWICK_CHECK_OFFSET(EVENT_RECORD, UserDataLength, 86);
TALLOWICK_CHECK_OFFSET(EVENT_RECORD, ExtendedData, 88);
TALLOWICK_CHECK_OFFSET(EVENT_RECORD, UserData, 96);
TALLOWICK_CHECK_OFFSET(EVENT_RECORD, UserContext, 104);

static_assert(sizeof(TRACE_EVENT_INFO) == 136);
TALLOWICK_CHECK_OFFSET(TRACE_EVENT_INFO, ProviderGuid, 0);
TALLOWICK_CHECK_OFFSET(TRACE_EVENT_INFO, EventGuid, 16);
TALLOWICK_CHECK_OFFSET(TRACE_EVENT_INFO, EventDescriptor, 32);
TALLOWICK_CHECK_OFFSET(TRACE_EVENT_INFO, DecodingSource, 48);
TALLOWICK_CHECK_OFFSET(TRACE_EVENT_INFO, ProviderNameOffset, 52);
TALLOWICK_CHECK_OFFSET(TRACE_EVENT_INFO, LevelNameOffset, 56);
TALLOWICK_CHECK_OFFSET(TRACE_EVENT_INFO, ChannelNameOffset, 60);
TALLOWICK_CHECK_OFFSET(TRACE_EVENT_INFO, KeywordsNameOffset, 64);
TALLOWICK_CHECK_OFFSET(TRACE_EVENT_INFO, TaskNameOffset, 68);
TALLOWICK_CHECK_OFFSET(TRACE_EVENT_INFO, OpcodeNameOffset, 72);
TALLOWICK_CHECK_OFFSET(TRACE_EVENT_INFO, EventMessageOffset, 76);
TALLOWICK_CHECK_OFFSET(TRACE_EVENT_INFO, ProviderMessageOffset, 80);
TALLOWICK_CHECK_OFFSET(TRACE_EVENT_INFO, BinaryXMLOffset, 84);
TALLOWICK_CHECK_OFFSET(TRACE_EVENT_INFO, BinaryXMLSize, 88);
TALLOWICK_CHECK_OFFSET(TRACE_EVENT_INFO, ActivityIDNameOffset, 92);
TALLOWICK_CHECK_OFFSET(TRACE_EVENT_INFO, RelatedActivityIDNameOffset, 96);
TALLOWICK_CHECK_OFFSET(TRACE_EVENT_INFO, PropertyCount, 100);
TALLOWICK_CHECK_OFFSET(TRACE_EVENT_INFO, TopLevelPropertyCount, 104);
TALLOWICK_CHECK_OFFSET(TRACE_EVENT_INFO, Flags, 108);
TALLOWICK_CHECK_OFFSET(TRACE_EVENT_INFO, EventPropertyInfoArray, 112);

static_assert(sizeof(EVENT_PROPERTY_INFO) == 24);
TALLOWICK_CHECK_OFFSET(EVENT_PROPERTY_INFO, Flags, 0);
TALLOWICK_CHECK_OFFSET(EVENT_PROPERTY_INFO, NameOffset, 4);
TALLOWICK_CHECK_OFFSET(EVENT_PROPERTY_INFO, nonStructType.InType, 8);
TALLOWICK_CHECK_OFFSET(EVENT_PROPERTY_INFO, nonStructType.OutType, 10);
TALLOWICK_CHECK_OFFSET(EVENT_PROPERTY_INFO, nonStructType.MapNameOffset, 12);
TALLOWICK_CHECK_OFFSET(EVENT_PROPERTY_INFO, count, 16);
TALLOWICK_CHECK_OFFSET(EVENT_PROPERTY_INFO, length, 18);
TALLOWICK_CHECK_OFFSET(EVENT_PROPERTY_INFO, Reserved, 20);

static_assert(sizeof(PROPERTY_DATA_DESCRIPTOR) == 16);
TALLOWICK_CHECK_OFFSET(PROPERTY_DATA_DESCRIPTOR, PropertyName, 0);
TALLOWICK_CHECK_OFFSET(PROPERTY_DATA_DESCRIPTOR, ArrayIndex, 8);
TALLOWICK_CHECK_OFFSET(PROPERTY_DATA_DESCRIPTOR, Reserved, 12);

static_assert(sizeof(TDH_CONTEXT) == 16);

static_assert(sizeof(WNODE_HEADER) == 48);
TALLOWICK_CHECK_OFFSET(WNODE_HEADER, BufferSize, 0);
TALLOWICK_CHECK_OFFSET(WNODE_HEADER, ProviderId, 4);
TALLOWICK_CHECK_OFFSET(WNODE_HEADER, HistoricalContext, 8);
TALLOWICK_CHECK_OFFSET(WNODE_HEADER, CountLost, 16);
TALLOWICK_CHECK_OFFSET(WNODE_HEADER, Guid, 24);
TALLOWICK_CHECK_OFFSET(WNODE_HEADER, ClientContext, 40);
TALLOWICK_CHECK_OFFSET(WNODE_HEADER, Flags, 44);

static_assert(sizeof(EVENT_TRACE_PROPERTIES) == 120);
TALLOWICK_CHECK_OFFSET(EVENT_TRACE_PROPERTIES, Wnode, 0);
TALLOWICK_CHECK_OFFSET(EVENT_TRACE_PROPERTIES, BufferSize, 48);
TALLOWICK_CHECK_OFFSET(EVENT_TRACE_PROPERTIES, MinimumBuffers, 52);
TALLOWICK_CHECK_OFFSET(EVENT_TRACE_PROPERTIES, MaximumBuffers, 56);
TALLOWICK_CHECK_OFFSET(EVENT_TRACE_PROPERTIES, MaximumFileSize, 60);
TALLOWICK_CHECK_OFFSET(EVENT_TRACE_PROPERTIES, LogFileMode, 64);
TALLOWICK_CHECK_OFFSET(EVENT_TRACE_PROPERTIES, FlushTimer, 68);
TALLOWICK_CHECK_OFFSET(EVENT_TRACE_PROPERTIES, EnableFlags, 72);
TALLOWICK_CHECK_OFFSET(EVENT_TRACE_PROPERTIES, AgeLimit, 76);
TALLOWICK_CHECK_OFFSET(EVENT_TRACE_PROPERTIES, NumberOfBuffers, 80);
TALLOWICK_CHECK_OFFSET(EVENT_TRACE_PROPERTIES, FreeBuffers, 84);
TALLOWICK_CHECK_OFFSET(EVENT_TRACE_PROPERTIES, EventsLost, 88);
TALLOWICK_CHECK_OFFSET(EVENT_TRACE_PROPERTIES, BuffersWritten, 92);
TALLOWICK_CHECK_OFFSET(EVENT_TRACE_PROPERTIES, LogBuffersLost, 96);
TALLOWICK_CHECK_OFFSET(EVENT_TRACE_PROPERTIES, RealTimeBuffersLost, 100);
TALLOWICK_CHECK_OFFSET(EVENT_TRACE_PROPERTIES, LoggerThreadId, 104);
TALLOWICK_CHECK_OFFSET(EVENT_TRACE_PROPERTIES, LogFileNameOffset, 112);
TALLOWICK_CHECK_OFFSET(EVENT_TRACE_PROPERTIES, LoggerNameOffset, 116);

static_assert(sizeof(EVENT_TRACE_HEADER) == 48);
static_assert(sizeof(EVENT_TRACE) == 88);
TALLOWICK_CHECK_OFFSET(EVENT_TRACE, InstanceId, 48);
TALLOWICK_CHECK_OFFSET(EVENT_TRACE, ParentInstanceId, 52);
TALLOWICK_CHECK_OFFSET(EVENT_TRACE, ParentGuid, 56);
TALLOWICK_CHECK_OFFSET(EVENT_TRACE, MofData, 72);
TALLOWICK_CHECK_OFFSET(EVENT_TRACE, MofLength, 80);
TALLOWICK_CHECK_OFFSET(EVENT_TRACE, ClientContext, 84);

static_assert(sizeof(TRACE_LOGFILE_HEADER) == 280);
TALLOWICK_CHECK_OFFSET(TRACE_LOGFILE_HEADER, LoggerName, 56);
TALLOWICK_CHECK_OFFSET(TRACE_LOGFILE_HEADER, LogFileName, 64);
TALLOWICK_CHECK_OFFSET(TRACE_LOGFILE_HEADER, TimeZone, 72);
TALLOWICK_CHECK_OFFSET(TRACE_LOGFILE_HEADER, BootTime, 248);
TALLOWICK_CHECK_OFFSET(TRACE_LOGFILE_HEADER, PerfFreq, 256);
TALLOWICK_CHECK_OFFSET(TRACE_LOGFILE_HEADER, StartTime, 264);
TALLOWICK_CHECK_OFFSET(TRACE_LOGFILE_HEADER, ReservedFlags, 272);
TALLOWICK_CHECK_OFFSET(TRACE_LOGFILE_HEADER, BuffersLost, 276);

static_assert(sizeof(EVENT_TRACE_LOGFILEW) == 448);
TALLOWICK_CHECK_OFFSET(EVENT_TRACE_LOGFILEW, LogFileName, 0);
TALLOWICK_CHECK_OFFSET(EVENT_TRACE_LOGFILEW, LoggerName, 8);
TALLOWICK_CHECK_OFFSET(EVENT_TRACE_LOGFILEW, CurrentTime, 16);
TALLOWICK_CHECK_OFFSET(EVENT_TRACE_LOGFILEW, BuffersRead, 24);
TALLOWICK_CHECK_OFFSET(EVENT_TRACE_LOGFILEW, ProcessTraceMode, 28);
TALLOWICK_CHECK_OFFSET(EVENT_TRACE_LOGFILEW, CurrentEvent, 32);
TALLOWICK_CHECK_OFFSET(EVENT_TRACE_LOGFILEW, LogfileHeader, 120);
TALLOWICK_CHECK_OFFSET(EVENT_TRACE_LOGFILEW, BufferCallback, 400);
TALLOWICK_CHECK_OFFSET(EVENT_TRACE_LOGFILEW, BufferSize, 408);
TALLOWICK_CHECK_OFFSET(EVENT_TRACE_LOGFILEW, Filled, 412);
TALLOWICK_CHECK_OFFSET(EVENT_TRACE_LOGFILEW, EventsLost, 416);
TALLOWICK_CHECK_OFFSET(EVENT_TRACE_LOGFILEW, EventRecordCallback, 424);
TALLOWICK_CHECK_OFFSET(EVENT_TRACE_LOGFILEW, IsKernelTrace, 432);
TALLOWICK_CHECK_OFFSET(EVENT_TRACE_LOGFILEW, Context, 440);

static_assert(sizeof(ENABLE_TRACE_PARAMETERS) == 48);
TALLOWICK_CHECK_OFFSET(ENABLE_TRACE_PARAMETERS, Version, 0);
TALLOWICK_CHECK_OFFSET(ENABLE_TRACE_PARAMETERS, EnableProperty, 4);
TALLOWICK_CHECK_OFFSET(ENABLE_TRACE_PARAMETERS, ControlFlags, 8);
TALLOWICK_CHECK_OFFSET(ENABLE_TRACE_PARAMETERS, SourceId, 12);
TALLOWICK_CHECK_OFFSET(ENABLE_TRACE_PARAMETERS, EnableFilterDesc, 32);
TALLOWICK_CHECK_OFFSET(ENABLE_TRACE_PARAMETERS, FilterDescCount, 40);

static_assert(sizeof(EVENT_FILTER_DESCRIPTOR) == 16);
TALLOWICK_CHECK_OFFSET(EVENT_FILTER_DESCRIPTOR, Ptr, 0);
TALLOWICK_CHECK_OFFSET(EVENT_FILTER_DESCRIPTOR, Size, 8);
TALLOWICK_CHECK_OFFSET(EVENT_FILTER_DESCRIPTOR, Type, 12);

static_assert(sizeof(EVENT_FILTER_EVENT_ID) == 6);
TALLOWICK_CHECK_OFFSET(EVENT_FILTER_EVENT_ID, FilterIn, 0);
TALLOWICK_CHECK_OFFSET(EVENT_FILTER_EVENT_ID, Reserved, 1);
TALLOWICK_CHECK_OFFSET(EVENT_FILTER_EVENT_ID, Count, 2);
TALLOWICK_CHECK_OFFSET(EVENT_FILTER_EVENT_ID, Events, 4);

static_assert(sizeof(OSVERSIONINFOEXW) == 284);
TALLOWICK_CHECK_OFFSET(OSVERSIONINFOEXW, dwMajorVersion, 4);
TALLOWICK_CHECK_OFFSET(OSVERSIONINFOEXW, dwMinorVersion, 8);
TALLOWICK_CHECK_OFFSET(OSVERSIONINFOEXW, szCSDVersion, 20);
TALLOWICK_CHECK_OFFSET(OSVERSIONINFOEXW, wServicePackMajor, 276);
TALLOWICK_CHECK_OFFSET(OSVERSIONINFOEXW, wServicePackMinor, 278);
TALLOWICK_CHECK_OFFSET(OSVERSIONINFOEXW, wSuiteMask, 280);
TALLOWICK_CHECK_OFFSET(OSVERSIONINFOEXW, wProductType, 282);

#if defined(_WIN32)
// Our constants against the SDK's macros.
namespace sdk = tallowick::platform::sdk;
namespace platform = tallowick::platform;
static_assert(sdk::event_header_flag_32_bit_header == EVENT_HEADER_FLAG_32_BIT_HEADER);
static_assert(sdk::event_header_flag_64_bit_header == EVENT_HEADER_FLAG_64_BIT_HEADER);
static_assert(sdk::event_header_flag_classic_header == EVENT_HEADER_FLAG_CLASSIC_HEADER);
static_assert(sdk::wnode_flag_traced_guid == WNODE_FLAG_TRACED_GUID);
static_assert(sdk::event_trace_real_time_mode == EVENT_TRACE_REAL_TIME_MODE);
static_assert(sdk::event_trace_system_logger_mode == EVENT_TRACE_SYSTEM_LOGGER_MODE);
static_assert(sdk::event_trace_no_per_processor_buffering == EVENT_TRACE_NO_PER_PROCESSOR_BUFFERING);
static_assert(sdk::process_trace_mode_real_time == PROCESS_TRACE_MODE_REAL_TIME);
static_assert(sdk::process_trace_mode_event_record == PROCESS_TRACE_MODE_EVENT_RECORD);
static_assert(sdk::event_trace_control_stop == EVENT_TRACE_CONTROL_STOP);
static_assert(sdk::trace_guid_query_info == TraceGuidQueryInfo);
static_assert(sdk::trace_guid_info_size == sizeof(TRACE_GUID_INFO));
static_assert(sdk::trace_provider_instance_info_size == sizeof(TRACE_PROVIDER_INSTANCE_INFO));
static_assert(sdk::trace_enable_info_size == sizeof(TRACE_ENABLE_INFO));
static_assert(sdk::trace_enable_info_logger_id_offset == offsetof(TRACE_ENABLE_INFO, LoggerId));
static_assert(offsetof(TRACE_PROVIDER_INSTANCE_INFO, EnableCount) == 4);

// The named Windows facts against the SDK's macros.
static_assert(platform::error_success == ERROR_SUCCESS);
static_assert(platform::error_access_denied == ERROR_ACCESS_DENIED);
static_assert(platform::error_invalid_handle == ERROR_INVALID_HANDLE);
static_assert(platform::error_bad_length == ERROR_BAD_LENGTH);
static_assert(platform::error_not_supported == ERROR_NOT_SUPPORTED);
static_assert(platform::error_invalid_parameter == ERROR_INVALID_PARAMETER);
static_assert(platform::error_insufficient_buffer == ERROR_INSUFFICIENT_BUFFER);
static_assert(platform::error_busy == ERROR_BUSY);
static_assert(platform::error_already_exists == ERROR_ALREADY_EXISTS);
static_assert(platform::error_more_data == ERROR_MORE_DATA);
static_assert(platform::error_not_found == ERROR_NOT_FOUND);
static_assert(platform::error_not_all_assigned == ERROR_NOT_ALL_ASSIGNED);
static_assert(platform::error_no_system_resources == ERROR_NO_SYSTEM_RESOURCES);
static_assert(platform::error_timeout == ERROR_TIMEOUT);
static_assert(platform::error_wmi_instance_not_found == ERROR_WMI_INSTANCE_NOT_FOUND);
static_assert(platform::error_ctx_close_pending == ERROR_CTX_CLOSE_PENDING);
static_assert(platform::s_ok == S_OK);
static_assert(platform::s_false == S_FALSE);
static_assert(platform::e_pointer == E_POINTER);
static_assert(platform::e_invalidarg == E_INVALIDARG);
static_assert(platform::coinit_multithreaded == COINIT_MULTITHREADED);
static_assert(platform::coinit_apartmentthreaded == COINIT_APARTMENTTHREADED);
static_assert(platform::clsctx_server == CLSCTX_SERVER);
static_assert(platform::ver_minorversion == VER_MINORVERSION);
static_assert(platform::ver_majorversion == VER_MAJORVERSION);
static_assert(platform::ver_buildnumber == VER_BUILDNUMBER);
static_assert(platform::ver_platformid == VER_PLATFORMID);
static_assert(platform::ver_servicepackminor == VER_SERVICEPACKMINOR);
static_assert(platform::ver_servicepackmajor == VER_SERVICEPACKMAJOR);
static_assert(platform::ver_product_type == VER_PRODUCT_TYPE);
static_assert(platform::ver_equal == VER_EQUAL);
static_assert(platform::ver_greater == VER_GREATER);
static_assert(platform::ver_greater_equal == VER_GREATER_EQUAL);
static_assert(platform::ver_less == VER_LESS);
static_assert(platform::ver_less_equal == VER_LESS_EQUAL);
#endif

#endif // 64-bit
