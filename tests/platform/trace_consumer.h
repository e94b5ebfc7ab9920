#pragma once
// A trace session driven through the tracing interface the way the agent drives
// one: created with a 1160-byte properties block, providers enabled, opened as a
// real-time consumer and processed on a thread of its own, which keeps what
// every record callback received.

#include "platform/tracing_api.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace tallowick::testing {

struct properties_block {
    EVENT_TRACE_PROPERTIES properties{};
    char16_t names[2][260]{};
};
static_assert(sizeof(properties_block) == 1160);

inline properties_block make_properties(std::uint32_t log_file_mode = 0x10000100,
                                        std::uint32_t enable_flags = 0, GUID guid = {}) {
    properties_block block;
    block.properties.Wnode.BufferSize = sizeof block;
    block.properties.Wnode.Guid = guid;
    block.properties.Wnode.Flags = platform::sdk::wnode_flag_traced_guid;
    block.properties.Wnode.ClientContext = 1;
    block.properties.LogFileMode = log_file_mode;
    block.properties.EnableFlags = enable_flags;
    block.properties.LoggerNameOffset = 640;
    return block;
}

// What a record callback saw.
struct received_record {
    std::uint16_t id = 0;
    std::uint8_t opcode = 0;
    GUID provider{};
    void* user_context = nullptr;
    std::thread::id thread;
    std::uint64_t sequence = 0; // across every consumer, in order of arrival
    std::int64_t time_stamp = 0;
};

class trace_consumer {
  public:
    // Called on the processing thread with each record, before it is kept.
    std::function<void(const EVENT_RECORD&)> on_record;

    trace_consumer(platform::tracing_api& tracing, std::u16string name)
        : tracing_(tracing), name_(std::move(name)) {}
    // A consumer still processing stops its session and waits for the thread.
    ~trace_consumer() {
        if (thread_.joinable()) {
            stop();
            join();
        }
    }

    std::uint32_t start(const properties_block& given = make_properties()) {
        properties_block block = given;
        return tracing_.start_trace(&controller, name_.c_str(), &block.properties);
    }

    std::uint32_t enable(const GUID& provider, std::uint8_t level, std::uint64_t any, std::uint64_t all,
                         const std::vector<std::uint16_t>& event_ids = {}) {
        ENABLE_TRACE_PARAMETERS parameters{};
        parameters.Version = platform::sdk::enable_trace_parameters_version_2;
        std::vector<std::uint16_t> filter; // FilterIn, Count, ids as 16-bit units
        EVENT_FILTER_DESCRIPTOR descriptor{};
        if (!event_ids.empty()) {
            filter = {1, static_cast<std::uint16_t>(event_ids.size())};
            filter.insert(filter.end(), event_ids.begin(), event_ids.end());
            descriptor.Ptr = reinterpret_cast<std::uintptr_t>(filter.data());
            descriptor.Size = static_cast<std::uint32_t>(2 * filter.size());
            descriptor.Type = platform::sdk::event_filter_type_event_id;
            parameters.EnableFilterDesc = &descriptor;
            parameters.FilterDescCount = 1;
        }
        return tracing_.enable_trace_ex2(controller, &provider,
                                         platform::sdk::event_control_code_enable_provider, level, any, all,
                                         0, &parameters);
    }

    // Opens the session by name; false when the platform refused. `more_mode`:
    // further ProcessTraceMode bits (raw time stamps).
    bool open(std::uint32_t more_mode = 0) {
        EVENT_TRACE_LOGFILEW logfile{};
        logfile.LoggerName = reinterpret_cast<platform::sdk::wide_char*>(name_.data());
        logfile.ProcessTraceMode = platform::sdk::process_trace_mode_event_record |
                                   platform::sdk::process_trace_mode_real_time | more_mode;
        logfile.EventRecordCallback = &trace_consumer::record_callback;
        // The buffer callback's return type is ULONG on Windows.
        logfile.BufferCallback = [](EVENT_TRACE_LOGFILEW*) {
            return decltype(logfile.BufferCallback(nullptr)){1};
        };
        logfile.Context = this;
        consumer = tracing_.open_trace(&logfile);
        return consumer != platform::sdk::invalid_processtrace_handle;
    }

    // ProcessTrace on a thread of its own.
    void process() {
        thread_ = std::thread([this] {
            const std::uint32_t status = tracing_.process_trace(&consumer, 1, nullptr, nullptr);
            const std::lock_guard lock(mutex_);
            process_status = status;
            changed_.notify_all();
        });
    }

    std::uint32_t stop() {
        properties_block block = make_properties();
        return tracing_.control_trace(0, name_.c_str(), &block.properties,
                                      platform::sdk::event_trace_control_stop);
    }

    void join() {
        if (thread_.joinable())
            thread_.join();
    }

    // Waits until ProcessTrace has returned; its status, or nothing after the
    // timeout.
    std::optional<std::uint32_t> wait_for_return(std::chrono::seconds timeout = std::chrono::seconds(30)) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, timeout, [&] { return process_status.has_value(); });
        return process_status;
    }

    std::vector<received_record> records() const {
        const std::lock_guard lock(mutex_);
        return records_;
    }
    // The records once there are `count`, or what came within the timeout.
    std::vector<received_record> records_when(std::size_t count,
                                              std::chrono::seconds timeout = std::chrono::seconds(30)) const {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (records().size() < count && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return records();
    }

    TRACEHANDLE controller = platform::sdk::invalid_processtrace_handle;
    TRACEHANDLE consumer = platform::sdk::invalid_processtrace_handle;

  private:
    static void record_callback(EVENT_RECORD* record) {
        auto* self = static_cast<trace_consumer*>(record->UserContext);
        if (self->on_record)
            self->on_record(*record);
        received_record kept;
        kept.id = record->EventHeader.EventDescriptor.Id;
        kept.opcode = record->EventHeader.EventDescriptor.Opcode;
        kept.provider = record->EventHeader.ProviderId;
        kept.user_context = record->UserContext;
        kept.thread = std::this_thread::get_id();
        kept.sequence = next_sequence()++;
        kept.time_stamp = record->EventHeader.TimeStamp.QuadPart;
        const std::lock_guard lock(self->mutex_);
        self->records_.push_back(kept);
    }
    static std::atomic<std::uint64_t>& next_sequence() {
        static std::atomic<std::uint64_t> sequence{0};
        return sequence;
    }

    platform::tracing_api& tracing_;
    std::u16string name_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<received_record> records_;
    std::optional<std::uint32_t> process_status;
    std::thread thread_;
};

} // namespace tallowick::testing
