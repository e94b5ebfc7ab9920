#pragma once
// A scripted tracing realisation for tests: records every call with copies of its
// arguments and answers with chosen statuses, handles and values. TDH answers
// come from a catalog of built records unless a test scripts them.

#include "platform/simulated/tdh_catalog.h"
#include "platform/tracing_api.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace tallowick::testing {

using platform::hresult;
using platform::trace_handle;

// Answers handed out in order; once they run out, `otherwise` every time.
template <typename T> struct scripted {
    std::deque<T> queued;
    T otherwise{};

    scripted& then(T value) {
        queued.push_back(std::move(value));
        return *this;
    }
    T next() {
        if (queued.empty())
            return otherwise;
        T value = std::move(queued.front());
        queued.pop_front();
        return value;
    }
};

// One struct per operation; `name` is the platform call's name.
struct start_trace_call {
    static constexpr std::string_view name = "StartTraceW";
    std::u16string session_name;
    std::vector<std::byte> properties; // Wnode.BufferSize bytes (at least the structure)
};
struct control_trace_call {
    static constexpr std::string_view name = "ControlTraceW";
    trace_handle handle;
    std::u16string session_name;
    std::vector<std::byte> properties;
    std::uint32_t control_code;
};
struct enable_trace_call {
    static constexpr std::string_view name = "EnableTraceEx2";
    trace_handle handle;
    GUID provider;
    std::uint32_t control_code;
    std::uint8_t level;
    std::uint64_t match_any_keyword;
    std::uint64_t match_all_keyword;
    std::uint32_t timeout;
    std::optional<ENABLE_TRACE_PARAMETERS> parameters;
    std::vector<EVENT_FILTER_DESCRIPTOR> filter_descriptors;
    std::vector<std::vector<std::byte>> filter_data; // what each descriptor's Ptr and Size cover
};
struct open_trace_call {
    static constexpr std::string_view name = "OpenTraceW";
    EVENT_TRACE_LOGFILEW logfile;
    std::u16string logger_name;
};
struct process_trace_call {
    static constexpr std::string_view name = "ProcessTrace";
    std::vector<trace_handle> handles;
    bool start_time_given;
    bool end_time_given;
};
struct close_trace_call {
    static constexpr std::string_view name = "CloseTrace";
    trace_handle handle;
};
struct event_information_call {
    static constexpr std::string_view name = "TdhGetEventInformation";
    const EVENT_RECORD* record;
    std::uint32_t context_count;
    const TDH_CONTEXT* context;
    bool buffer_given;
    std::uint32_t buffer_size; // on entry
};
struct property_size_call {
    static constexpr std::string_view name = "TdhGetPropertySize";
    const EVENT_RECORD* record;
    std::uint32_t context_count;
    const TDH_CONTEXT* context;
    std::vector<PROPERTY_DATA_DESCRIPTOR> descriptors;
    std::u16string property_name; // the name the first descriptor points to
    std::uint32_t preset_size;
};
struct enumerate_trace_guids_call {
    static constexpr std::string_view name = "EnumerateTraceGuidsEx";
    std::uint32_t query_class;
    GUID provider;
};
struct query_system_information_call {
    static constexpr std::string_view name = "NtQuerySystemInformation";
    std::uint32_t information_class;
    std::vector<std::byte> information; // as passed in
    std::uint32_t length;
    bool return_length_given;
};
struct set_system_information_call {
    static constexpr std::string_view name = "NtSetSystemInformation";
    std::uint32_t information_class;
    std::vector<std::byte> information;
    std::uint32_t length;
};
struct ver_set_condition_mask_call {
    static constexpr std::string_view name = "VerSetConditionMask";
    std::uint64_t condition_mask;
    std::uint32_t type_mask;
    std::uint8_t condition;
};
struct verify_version_info_call {
    static constexpr std::string_view name = "VerifyVersionInfoW";
    OSVERSIONINFOEXW info;
    std::uint32_t type_mask;
    std::uint64_t condition_mask;
};
struct co_create_guid_call {
    static constexpr std::string_view name = "CoCreateGuid";
};
struct string_from_clsid_call {
    static constexpr std::string_view name = "StringFromCLSID";
    GUID clsid;
};
struct co_initialize_call {
    static constexpr std::string_view name = "CoInitializeEx";
    void* reserved;
    std::uint32_t co_init;
};
struct co_uninitialize_call {
    static constexpr std::string_view name = "CoUninitialize";
};
struct co_create_instance_call {
    static constexpr std::string_view name = "CoCreateInstance";
    GUID clsid;
    void* outer;
    std::uint32_t class_context;
    GUID iid;
};
struct get_trace_data_providers_call {
    static constexpr std::string_view name = "GetTraceDataProviders";
    void* collection;
    std::optional<std::u16string> server;
};
struct get_count_call {
    static constexpr std::string_view name = "get_Count";
    void* collection;
};
struct get_item_call {
    static constexpr std::string_view name = "get_Item";
    void* collection;
    std::uint32_t index;
};
struct get_display_name_call {
    static constexpr std::string_view name = "get_DisplayName";
    void* provider;
};
struct get_guid_call {
    static constexpr std::string_view name = "get_Guid";
    void* provider;
};
struct release_call {
    static constexpr std::string_view name = "Release";
    void* object;
};

using tracing_call =
    std::variant<start_trace_call, control_trace_call, enable_trace_call, open_trace_call, process_trace_call,
                 close_trace_call, event_information_call, property_size_call, enumerate_trace_guids_call,
                 query_system_information_call, set_system_information_call, ver_set_condition_mask_call,
                 verify_version_info_call, co_create_guid_call, string_from_clsid_call, co_initialize_call,
                 co_uninitialize_call, co_create_instance_call, get_trace_data_providers_call, get_count_call,
                 get_item_call, get_display_name_call, get_guid_call, release_call>;

// A registered provider of the fake's provider collection.
struct fake_registered_provider {
    std::optional<std::u16string> display_name; // nothing: a null BSTR
    GUID guid{};
};

struct start_trace_answer {
    std::uint32_t status = 0;
    trace_handle handle = 0x1000;
};

// A scripted TDH answer: the status, the size stored (nothing: none stored), and
// for TdhGetEventInformation the block copied into a buffer given (when it fits).
struct tdh_answer {
    std::uint32_t status = 0;
    std::optional<std::uint32_t> size;
    std::vector<std::byte> event_info{};
};

class fake_tracing final : public platform::tracing_api {
  public:
    // Sessions.
    scripted<start_trace_answer> start_trace_answers;
    scripted<std::uint32_t> control_trace_answers;
    // The lost-event counter a successful query or stop reports.
    std::uint32_t control_trace_events_lost = 0;
    scripted<std::uint32_t> enable_trace_answers;
    scripted<trace_handle> open_trace_answers{{}, 0x2000};
    scripted<std::uint32_t> close_trace_answers;
    // What a query by ControlTraceW answers for a running session: its logger
    // id (in Wnode.HistoricalContext) and EnableFlags; and the logger ids that
    // EnumerateTraceGuidsEx reports as enabling any provider asked about.
    std::uint16_t queried_logger_id = 7;
    std::uint32_t queried_enable_flags = 0x1;
    std::vector<std::uint16_t> enabling_loggers{7};
    // Runs inside ProcessTrace, without the fake's lock, with the logfile of the
    // last OpenTraceW: deliver records by calling its callbacks. Its result is
    // ProcessTrace's status. Unset: ProcessTrace plays `delivered_records` and,
    // with `process_until_stopped`, waits for the end of its session (below).
    std::function<std::uint32_t(EVENT_TRACE_LOGFILEW& logfile)> on_process_trace;
    // Handed in order to the opened logfile's record callback, each as a copy
    // whose UserContext is the logfile's Context.
    std::vector<const EVENT_RECORD*> delivered_records;
    // After delivering, ProcessTrace waits until its session ends (a ControlTraceW
    // stop, or a CloseTrace, after the last OpenTraceW) and returns 0; 1460 after
    // a minute without. A handle closed before ProcessTrace gives 6 at once, as on
    // Windows.
    bool process_until_stopped = false;
    // Runs first in each session call (StartTraceW, ControlTraceW, EnableTraceEx2,
    // OpenTraceW, ProcessTrace, CloseTrace), without the fake's lock, with the
    // call's name: to act from inside a call.
    std::function<void(std::string_view call)> on_session_call;

    // TDH: scripted answers first, then the catalog.
    platform::simulated::tdh_catalog tdh;
    std::deque<tdh_answer> event_information_answers;
    std::deque<tdh_answer> property_size_answers;

    // Kernel group masks: the query fills the eight mask words with these.
    scripted<std::uint32_t> query_system_information_answers;
    scripted<std::uint32_t> set_system_information_answers;
    std::uint32_t group_masks_in_force[8] = {};

    // Version test: VerifyVersionInfoW's answer.
    bool windows8_or_greater = true;

    // COM. CoCreateGuid hands out queued GUIDs, then fresh ones {n, 0, 0, ...}.
    std::deque<GUID> created_guids;
    hresult co_create_guid_answer = 0;
    hresult string_from_clsid_answer = 0;
    scripted<hresult> co_initialize_answers;
    scripted<hresult> co_create_instance_answers;
    scripted<hresult> get_trace_data_providers_answers;
    scripted<hresult> get_count_answers;
    scripted<hresult> get_item_answers;
    scripted<hresult> get_display_name_answers;
    scripted<hresult> get_guid_answers;
    std::vector<fake_registered_provider> providers;
    std::optional<std::int32_t> count_override; // get_Count's count instead of providers.size()

    // Every call so far, in order.
    std::vector<tracing_call> calls() const;
    // The names of the calls so far, in order.
    std::vector<std::string_view> call_names() const;
    template <typename Call> std::vector<Call> calls_of() const {
        std::vector<Call> found;
        const std::lock_guard lock(mutex_);
        for (const auto& call : calls_) {
            if (const auto* wanted = std::get_if<Call>(&call))
                found.push_back(*wanted);
        }
        return found;
    }
    template <typename Call> std::size_t count_of() const { return calls_of<Call>().size(); }
    // COM objects handed out and not yet released.
    int outstanding_com_objects() const;
    // Waits at most `timeout` until a ProcessTrace waits for its session to end.
    bool wait_until_processing(std::chrono::milliseconds timeout) const;

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
    // No performance counter: stamps stay as the records carry them.
    std::int64_t query_performance_counter() override { return 0; }
    std::int64_t query_performance_frequency() override { return 0; }
    std::int64_t system_time() override { return 0; }
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

  private:
    void record(tracing_call call);
    void session_call(std::string_view name) const;
    void end_consumer(); // under the lock
    std::uint32_t deliver_and_wait(const EVENT_TRACE_LOGFILEW& logfile);

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<tracing_call> calls_;
    std::optional<EVENT_TRACE_LOGFILEW> opened_logfile_;
    std::set<trace_handle> closed_handles_;
    bool consumer_ended_ = false;
    int waiting_processes_ = 0;
    int outstanding_com_objects_ = 0;
    std::uint32_t next_guid_ = 1;
    char collection_object_ = 0; // its address is the collection's identity
};

// The text of a GUID the way StringFromCLSID writes it: {XXXXXXXX-XXXX-...}.
std::u16string clsid_text(const GUID& guid);

} // namespace tallowick::testing
