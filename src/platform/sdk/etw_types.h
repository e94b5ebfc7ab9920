#pragma once
// The public SDK structures and constants of event tracing, trace decoding and
// the version test (statuses, the version test's values and well-known GUIDs are
// in platform/windows_facts.h). On Windows they come from the SDK headers; elsewhere they are
// defined here with the same x64 layout (checked in layout_checks.cpp), so that
// records and schemas built off Windows look exactly as Windows hands them out.
//
// Structures keep their SDK names and field names. Constants are given once, in
// namespace tallowick::platform::sdk with lower-case names, for every platform:
// the SDK spells many of them as macros and some SDKs lack a few.

#include <cstdint>

#if defined(_WIN32)

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// windows.h first: the tracing headers rely on its types.
#include <evntcons.h>
#include <evntrace.h>
#include <tdh.h>

#if !defined(EVENT_FILTER_TYPE_EVENT_ID)
// Older SDKs (mingw-w64 10) lack the event-id filter of Windows 8.1.
typedef struct _EVENT_FILTER_EVENT_ID {
    BOOLEAN FilterIn;
    UCHAR Reserved;
    USHORT Count;
    USHORT Events[ANYSIZE_ARRAY];
} EVENT_FILTER_EVENT_ID, *PEVENT_FILTER_EVENT_ID;
#endif

namespace tallowick::platform::sdk {
using wide_char = WCHAR;
// ULONG, the result of a buffer callback: 32 bits but not std::uint32_t's type.
using ulong = ULONG;
} // namespace tallowick::platform::sdk

#else // not Windows

// The SDK's own names, as Windows spells them.
// NOLINTBEGIN(readability-identifier-naming)

namespace tallowick::platform::sdk {
using wide_char = char16_t;
using ulong = std::uint32_t;
} // namespace tallowick::platform::sdk

struct GUID {
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    std::uint8_t Data4[8];
};

using TRACEHANDLE = std::uint64_t;

union LARGE_INTEGER {
    struct parts_type {
        std::uint32_t LowPart;
        std::int32_t HighPart;
    };
    parts_type u;
    std::int64_t QuadPart;
};

struct FILETIME {
    std::uint32_t dwLowDateTime;
    std::uint32_t dwHighDateTime;
};

struct SYSTEMTIME {
    std::uint16_t wYear;
    std::uint16_t wMonth;
    std::uint16_t wDayOfWeek;
    std::uint16_t wDay;
    std::uint16_t wHour;
    std::uint16_t wMinute;
    std::uint16_t wSecond;
    std::uint16_t wMilliseconds;
};

struct TIME_ZONE_INFORMATION {
    std::int32_t Bias;
    char16_t StandardName[32];
    SYSTEMTIME StandardDate;
    std::int32_t StandardBias;
    char16_t DaylightName[32];
    SYSTEMTIME DaylightDate;
    std::int32_t DaylightBias;
};

struct EVENT_DESCRIPTOR {
    std::uint16_t Id;
    std::uint8_t Version;
    std::uint8_t Channel;
    std::uint8_t Level;
    std::uint8_t Opcode;
    std::uint16_t Task;
    std::uint64_t Keyword;
};

struct EVENT_HEADER {
    struct times_type {
        std::uint32_t KernelTime;
        std::uint32_t UserTime;
    };
    std::uint16_t Size;
    std::uint16_t HeaderType;
    std::uint16_t Flags;
    std::uint16_t EventProperty;
    std::uint32_t ThreadId;
    std::uint32_t ProcessId;
    LARGE_INTEGER TimeStamp;
    GUID ProviderId;
    EVENT_DESCRIPTOR EventDescriptor;
    union {
        times_type Times; // unnamed in the SDK
        std::uint64_t ProcessorTime;
    };
    GUID ActivityId;
};

struct ETW_BUFFER_CONTEXT {
    struct processor_type {
        std::uint8_t ProcessorNumber;
        std::uint8_t Alignment;
    };
    union {
        processor_type Processor; // unnamed in the SDK
        std::uint16_t ProcessorIndex;
    };
    std::uint16_t LoggerId;
};

struct EVENT_HEADER_EXTENDED_DATA_ITEM {
    std::uint16_t Reserved1;
    std::uint16_t ExtType;
    std::uint16_t Linkage : 1;
    std::uint16_t Reserved2 : 15;
    std::uint16_t DataSize;
    std::uint64_t DataPtr;
};

struct EVENT_RECORD {
    EVENT_HEADER EventHeader;
    ETW_BUFFER_CONTEXT BufferContext;
    std::uint16_t ExtendedDataCount;
    std::uint16_t UserDataLength;
    EVENT_HEADER_EXTENDED_DATA_ITEM* ExtendedData;
    void* UserData;
    void* UserContext;
};

enum DECODING_SOURCE : int {
    DecodingSourceXMLFile = 0,
    DecodingSourceWbem = 1,
    DecodingSourceWPP = 2,
    DecodingSourceTlg = 3,
    DecodingSourceMax = 4
};

enum TEMPLATE_FLAGS : int { TEMPLATE_EVENT_DATA = 1, TEMPLATE_USER_DATA = 2, TEMPLATE_CONTROL_GUID = 4 };

enum PROPERTY_FLAGS : int {
    PropertyStruct = 0x1,
    PropertyParamLength = 0x2,
    PropertyParamCount = 0x4,
    PropertyWBEMXmlFragment = 0x8,
    PropertyParamFixedLength = 0x10,
    PropertyParamFixedCount = 0x20,
    PropertyHasTags = 0x40,
    PropertyHasCustomSchema = 0x80
};

struct EVENT_PROPERTY_INFO {
    struct non_struct_type {
        std::uint16_t InType;
        std::uint16_t OutType;
        std::uint32_t MapNameOffset;
    };
    struct struct_type {
        std::uint16_t StructStartIndex;
        std::uint16_t NumOfStructMembers;
        std::uint32_t padding;
    };
    struct custom_schema_type {
        std::uint16_t InType;
        std::uint16_t OutType;
        std::uint32_t CustomSchemaOffset;
    };
    PROPERTY_FLAGS Flags;
    std::uint32_t NameOffset;
    union {
        non_struct_type nonStructType;
        struct_type structType;
        custom_schema_type customSchemaType;
    };
    union {
        std::uint16_t count;
        std::uint16_t countPropertyIndex;
    };
    union {
        std::uint16_t length;
        std::uint16_t lengthPropertyIndex;
    };
    std::uint32_t Reserved; // with the tag bits in the SDK's union
};

struct TRACE_EVENT_INFO {
    GUID ProviderGuid;
    GUID EventGuid;
    EVENT_DESCRIPTOR EventDescriptor;
    DECODING_SOURCE DecodingSource;
    std::uint32_t ProviderNameOffset;
    std::uint32_t LevelNameOffset;
    std::uint32_t ChannelNameOffset;
    std::uint32_t KeywordsNameOffset;
    std::uint32_t TaskNameOffset;
    std::uint32_t OpcodeNameOffset;
    std::uint32_t EventMessageOffset;
    std::uint32_t ProviderMessageOffset;
    std::uint32_t BinaryXMLOffset;
    std::uint32_t BinaryXMLSize;
    union {
        std::uint32_t EventNameOffset;
        std::uint32_t ActivityIDNameOffset;
    };
    union {
        std::uint32_t EventAttributesOffset;
        std::uint32_t RelatedActivityIDNameOffset;
    };
    std::uint32_t PropertyCount;
    std::uint32_t TopLevelPropertyCount;
    TEMPLATE_FLAGS Flags; // with the tag bits in the SDK's union
    EVENT_PROPERTY_INFO EventPropertyInfoArray[1];
};

enum TDH_CONTEXT_TYPE : int {
    TDH_CONTEXT_WPP_TMFFILE = 0,
    TDH_CONTEXT_WPP_TMFSEARCHPATH = 1,
    TDH_CONTEXT_WPP_GMT = 2,
    TDH_CONTEXT_POINTERSIZE = 3,
    TDH_CONTEXT_PDB_PATH = 4,
    TDH_CONTEXT_MAXIMUM = 5
};

struct TDH_CONTEXT {
    std::uint64_t ParameterValue;
    TDH_CONTEXT_TYPE ParameterType;
    std::uint32_t ParameterSize;
};

struct PROPERTY_DATA_DESCRIPTOR {
    std::uint64_t PropertyName;
    std::uint32_t ArrayIndex;
    std::uint32_t Reserved;
};

struct WNODE_HEADER {
    struct versions_type {
        std::uint32_t Version;
        std::uint32_t Linkage;
    };
    std::uint32_t BufferSize;
    std::uint32_t ProviderId;
    union {
        std::uint64_t HistoricalContext;
        versions_type Versions; // unnamed in the SDK
    };
    union {
        std::uint32_t CountLost;
        void* KernelHandle;
        LARGE_INTEGER TimeStamp;
    };
    GUID Guid;
    std::uint32_t ClientContext;
    std::uint32_t Flags;
};

struct EVENT_TRACE_PROPERTIES {
    WNODE_HEADER Wnode;
    std::uint32_t BufferSize;
    std::uint32_t MinimumBuffers;
    std::uint32_t MaximumBuffers;
    std::uint32_t MaximumFileSize;
    std::uint32_t LogFileMode;
    std::uint32_t FlushTimer;
    std::uint32_t EnableFlags;
    union {
        std::int32_t AgeLimit;
        std::int32_t FlushThreshold;
    };
    std::uint32_t NumberOfBuffers;
    std::uint32_t FreeBuffers;
    std::uint32_t EventsLost;
    std::uint32_t BuffersWritten;
    std::uint32_t LogBuffersLost;
    std::uint32_t RealTimeBuffersLost;
    void* LoggerThreadId;
    std::uint32_t LogFileNameOffset;
    std::uint32_t LoggerNameOffset;
};

struct EVENT_TRACE_HEADER {
    struct class_type {
        std::uint8_t Type;
        std::uint8_t Level;
        std::uint16_t Version;
    };
    struct context_type {
        std::uint32_t ClientContext;
        std::uint32_t Flags;
    };
    std::uint16_t Size;
    std::uint16_t FieldTypeFlags; // HeaderType and MarkerFlags in the SDK's union
    union {
        std::uint32_t Version;
        class_type Class;
    };
    std::uint32_t ThreadId;
    std::uint32_t ProcessId;
    LARGE_INTEGER TimeStamp;
    union {
        GUID Guid;
        std::uint64_t GuidPtr;
    };
    union {
        std::uint64_t ProcessorTime;
        context_type Context; // unnamed in the SDK, as are KernelTime and UserTime
    };
};

struct EVENT_TRACE {
    EVENT_TRACE_HEADER Header;
    std::uint32_t InstanceId;
    std::uint32_t ParentInstanceId;
    GUID ParentGuid;
    void* MofData;
    std::uint32_t MofLength;
    union {
        std::uint32_t ClientContext;
        ETW_BUFFER_CONTEXT BufferContext;
    };
};

struct TRACE_LOGFILE_HEADER {
    struct counts_type {
        std::uint32_t StartBuffers;
        std::uint32_t PointerSize;
        std::uint32_t EventsLost;
        std::uint32_t CpuSpeedInMHz;
    };
    std::uint32_t BufferSize;
    std::uint32_t Version;
    std::uint32_t ProviderVersion;
    std::uint32_t NumberOfProcessors;
    LARGE_INTEGER EndTime;
    std::uint32_t TimerResolution;
    std::uint32_t MaximumFileSize;
    std::uint32_t LogFileMode;
    std::uint32_t BuffersWritten;
    union {
        GUID LogInstanceGuid;
        counts_type Counts; // unnamed in the SDK
    };
    char16_t* LoggerName;
    char16_t* LogFileName;
    TIME_ZONE_INFORMATION TimeZone;
    LARGE_INTEGER BootTime;
    LARGE_INTEGER PerfFreq;
    LARGE_INTEGER StartTime;
    std::uint32_t ReservedFlags;
    std::uint32_t BuffersLost;
};

struct EVENT_TRACE_LOGFILEW;
using PEVENT_TRACE_BUFFER_CALLBACKW = tallowick::platform::sdk::ulong (*)(EVENT_TRACE_LOGFILEW* logfile);
using PEVENT_CALLBACK = void (*)(EVENT_TRACE* event);
using PEVENT_RECORD_CALLBACK = void (*)(EVENT_RECORD* record);

struct EVENT_TRACE_LOGFILEW {
    char16_t* LogFileName;
    char16_t* LoggerName;
    std::int64_t CurrentTime;
    std::uint32_t BuffersRead;
    union {
        std::uint32_t LogFileMode;
        std::uint32_t ProcessTraceMode;
    };
    EVENT_TRACE CurrentEvent;
    TRACE_LOGFILE_HEADER LogfileHeader;
    PEVENT_TRACE_BUFFER_CALLBACKW BufferCallback;
    std::uint32_t BufferSize;
    std::uint32_t Filled;
    std::uint32_t EventsLost;
    union {
        PEVENT_CALLBACK EventCallback;
        PEVENT_RECORD_CALLBACK EventRecordCallback;
    };
    std::uint32_t IsKernelTrace;
    void* Context;
};

struct EVENT_FILTER_DESCRIPTOR {
    std::uint64_t Ptr;
    std::uint32_t Size;
    std::uint32_t Type;
};

struct EVENT_FILTER_EVENT_ID {
    std::uint8_t FilterIn;
    std::uint8_t Reserved;
    std::uint16_t Count;
    std::uint16_t Events[1];
};

struct ENABLE_TRACE_PARAMETERS {
    std::uint32_t Version;
    std::uint32_t EnableProperty;
    std::uint32_t ControlFlags;
    GUID SourceId;
    EVENT_FILTER_DESCRIPTOR* EnableFilterDesc;
    std::uint32_t FilterDescCount;
};

struct OSVERSIONINFOEXW {
    std::uint32_t dwOSVersionInfoSize;
    std::uint32_t dwMajorVersion;
    std::uint32_t dwMinorVersion;
    std::uint32_t dwBuildNumber;
    std::uint32_t dwPlatformId;
    char16_t szCSDVersion[128];
    std::uint16_t wServicePackMajor;
    std::uint16_t wServicePackMinor;
    std::uint16_t wSuiteMask;
    std::uint8_t wProductType;
    std::uint8_t wReserved;
};

// NOLINTEND(readability-identifier-naming)

#endif // not Windows

namespace tallowick::platform::sdk {

// TDH_INTYPE_* and TDH_OUTTYPE_*.
inline constexpr std::uint16_t tdh_intype_null = 0;
inline constexpr std::uint16_t tdh_intype_unicodestring = 1;
inline constexpr std::uint16_t tdh_intype_ansistring = 2;
inline constexpr std::uint16_t tdh_intype_int8 = 3;
inline constexpr std::uint16_t tdh_intype_uint8 = 4;
inline constexpr std::uint16_t tdh_intype_int16 = 5;
inline constexpr std::uint16_t tdh_intype_uint16 = 6;
inline constexpr std::uint16_t tdh_intype_int32 = 7;
inline constexpr std::uint16_t tdh_intype_uint32 = 8;
inline constexpr std::uint16_t tdh_intype_int64 = 9;
inline constexpr std::uint16_t tdh_intype_uint64 = 10;
inline constexpr std::uint16_t tdh_intype_binary = 14;
inline constexpr std::uint16_t tdh_intype_guid = 15;
inline constexpr std::uint16_t tdh_intype_pointer = 16;
inline constexpr std::uint16_t tdh_intype_sid = 19;
inline constexpr std::uint16_t tdh_intype_hexint32 = 20;
inline constexpr std::uint16_t tdh_intype_hexint64 = 21;
inline constexpr std::uint16_t tdh_intype_wbemsid = 310;
inline constexpr std::uint16_t tdh_outtype_null = 0;
inline constexpr std::uint16_t tdh_outtype_string = 1;

// PROPERTY_FLAGS bits.
inline constexpr std::uint32_t property_struct = 0x1;
inline constexpr std::uint32_t property_param_length = 0x2;

// EVENT_HEADER_FLAG_* bits.
inline constexpr std::uint16_t event_header_flag_32_bit_header = 0x0020;
inline constexpr std::uint16_t event_header_flag_64_bit_header = 0x0040;
inline constexpr std::uint16_t event_header_flag_classic_header = 0x0100;

// Session control and enabling.
inline constexpr std::uint32_t wnode_flag_traced_guid = 0x00020000;
inline constexpr std::uint32_t event_trace_real_time_mode = 0x00000100;
inline constexpr std::uint32_t event_trace_system_logger_mode = 0x02000000;
inline constexpr std::uint32_t event_trace_no_per_processor_buffering = 0x10000000;
inline constexpr std::uint32_t event_trace_flag_process = 0x00000001;
inline constexpr std::uint32_t event_trace_control_query = 0;
// TRACE_QUERY_INFO_CLASS TraceGuidQueryInfo, and the layout of its answer:
// TRACE_GUID_INFO, then per provider instance a TRACE_PROVIDER_INSTANCE_INFO
// followed by its TRACE_ENABLE_INFO entries.
inline constexpr std::uint32_t trace_guid_query_info = 1;
inline constexpr std::size_t trace_guid_info_size = 8;
inline constexpr std::size_t trace_provider_instance_info_size = 16;
inline constexpr std::size_t trace_enable_info_size = 32;
inline constexpr std::size_t trace_enable_info_logger_id_offset = 6;
inline constexpr std::uint32_t event_trace_control_stop = 1;
inline constexpr std::uint32_t event_trace_control_update = 2;
inline constexpr std::uint32_t event_trace_control_flush = 3;
inline constexpr std::uint32_t event_control_code_disable_provider = 0;
inline constexpr std::uint32_t event_control_code_enable_provider = 1;
inline constexpr std::uint32_t event_control_code_capture_state = 2;
inline constexpr std::uint32_t enable_trace_parameters_version_2 = 2;
inline constexpr std::uint32_t event_filter_type_event_id = 0x80000200;
inline constexpr std::uint32_t process_trace_mode_real_time = 0x00000100;
inline constexpr std::uint32_t process_trace_mode_raw_timestamp = 0x00001000;
inline constexpr std::uint32_t process_trace_mode_event_record = 0x10000000;
inline constexpr std::uint8_t trace_level_information = 4;
inline constexpr std::uint8_t trace_level_verbose = 5;
inline constexpr TRACEHANDLE invalid_processtrace_handle = ~TRACEHANDLE{0};

// The kernel group-mask exchange.
inline constexpr std::uint32_t system_performance_trace_information = 31;

} // namespace tallowick::platform::sdk
