// The whole agent in-process on the simulated machine in real-time delivery:
// records per second from the file session's buffers until each reported
// event's datagram has been received on 127.0.0.1:13251, for a stream of
// reported events and for a stream the filter rejects on the session thread,
// with that thread's CPU time per record; beside them the floor, a raw sendto
// of the same bytes from one reused socket to the same receiver. The agent is
// the agent's own run_traces, set up once for the program; its console lines
// go to /dev/null, the results to the original standard output.
#include "app/exclusion_tables.h"
#include "app/interrupt.h"
#include "app/trace_orchestration.h"
#include "platform/simulated/scenario.h"
#include "platform/simulated/simulated_system.h"
#include "platform/simulated/simulated_tracing.h"
#include "platform/system_api.h"
#include "platform/trace_consumer.h"
#include "platform/tracing_api.h"
#include "support/udp_receiver.h"

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <memory>
#include <netinet/in.h>
#include <optional>
#include <pthread.h>
#include <stop_token>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace tallowick::platform::simulated;
using tallowick::platform::trace_handle;

// The simulated machine as the agent sees it, noting which thread processes
// the file session so that its CPU clock can be read.
class clocked_tracing final : public tallowick::platform::tracing_api {
    using hresult = tallowick::platform::hresult;

  public:
    explicit clocked_tracing(simulated_tracing& machine) : machine_(machine) {}

    // The file session's processing thread's CPU time, once it processes.
    std::optional<std::chrono::nanoseconds> file_session_cpu() const {
        if (!clock_known_.load())
            return std::nullopt;
        timespec now{};
        clock_gettime(file_clock_, &now);
        return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
    }

    trace_handle open_trace(EVENT_TRACE_LOGFILEW* logfile) override {
        const trace_handle handle = machine_.open_trace(logfile);
        if (logfile != nullptr && std::u16string_view(reinterpret_cast<const char16_t*>(
                                      logfile->LoggerName)) == u"Velmar_Trace_FileKernel")
            file_handle_.store(handle);
        return handle;
    }
    std::uint32_t process_trace(trace_handle* handles, std::uint32_t count, const FILETIME* start,
                                const FILETIME* end) override {
        if (handles != nullptr && count == 1 && *handles == file_handle_.load() &&
            pthread_getcpuclockid(pthread_self(), &file_clock_) == 0)
            clock_known_.store(true);
        return machine_.process_trace(handles, count, start, end);
    }

    std::uint32_t start_trace(trace_handle* handle, const char16_t* name,
                              EVENT_TRACE_PROPERTIES* p) override {
        return machine_.start_trace(handle, name, p);
    }
    std::uint32_t control_trace(trace_handle handle, const char16_t* name, EVENT_TRACE_PROPERTIES* p,
                                std::uint32_t code) override {
        return machine_.control_trace(handle, name, p, code);
    }
    std::uint32_t enable_trace_ex2(trace_handle handle, const GUID* provider, std::uint32_t code,
                                   std::uint8_t level, std::uint64_t any, std::uint64_t all,
                                   std::uint32_t timeout,
                                   const ENABLE_TRACE_PARAMETERS* parameters) override {
        return machine_.enable_trace_ex2(handle, provider, code, level, any, all, timeout, parameters);
    }
    std::uint32_t close_trace(trace_handle handle) override { return machine_.close_trace(handle); }
    std::uint32_t tdh_get_event_information(const EVENT_RECORD* record, std::uint32_t count,
                                            const TDH_CONTEXT* context, TRACE_EVENT_INFO* buffer,
                                            std::uint32_t* size) override {
        return machine_.tdh_get_event_information(record, count, context, buffer, size);
    }
    std::uint32_t tdh_get_property_size(const EVENT_RECORD* record, std::uint32_t count,
                                        const TDH_CONTEXT* context, std::uint32_t descriptor_count,
                                        const PROPERTY_DATA_DESCRIPTOR* descriptors,
                                        std::uint32_t* size) override {
        return machine_.tdh_get_property_size(record, count, context, descriptor_count, descriptors, size);
    }
    std::uint32_t enumerate_trace_guids_ex(std::uint32_t query_class, const void* in, std::uint32_t in_size,
                                           void* out, std::uint32_t out_size,
                                           std::uint32_t* returned) override {
        return machine_.enumerate_trace_guids_ex(query_class, in, in_size, out, out_size, returned);
    }
    std::uint32_t nt_query_system_information(std::uint32_t information_class, void* information,
                                              std::uint32_t length, std::uint32_t* return_length) override {
        return machine_.nt_query_system_information(information_class, information, length, return_length);
    }
    std::uint32_t nt_set_system_information(std::uint32_t information_class, void* information,
                                            std::uint32_t length) override {
        return machine_.nt_set_system_information(information_class, information, length);
    }
    std::uint64_t ver_set_condition_mask(std::uint64_t mask, std::uint32_t type,
                                         std::uint8_t condition) override {
        return machine_.ver_set_condition_mask(mask, type, condition);
    }
    std::int32_t verify_version_info(OSVERSIONINFOEXW* info, std::uint32_t type,
                                     std::uint64_t mask) override {
        return machine_.verify_version_info(info, type, mask);
    }
    std::int64_t query_performance_counter() override { return machine_.query_performance_counter(); }
    std::int64_t query_performance_frequency() override { return machine_.query_performance_frequency(); }
    std::int64_t system_time() override { return machine_.system_time(); }
    hresult co_create_guid(GUID* guid) override { return machine_.co_create_guid(guid); }
    hresult string_from_clsid(const GUID& clsid, std::u16string& text) override {
        return machine_.string_from_clsid(clsid, text);
    }
    hresult co_initialize_ex(void* reserved, std::uint32_t co_init) override {
        return machine_.co_initialize_ex(reserved, co_init);
    }
    void co_uninitialize() override { machine_.co_uninitialize(); }
    hresult co_create_instance(const GUID& clsid, void* outer, std::uint32_t context, const GUID& iid,
                               void** object) override {
        return machine_.co_create_instance(clsid, outer, context, iid, object);
    }
    hresult get_trace_data_providers(void* collection, const char16_t* server) override {
        return machine_.get_trace_data_providers(collection, server);
    }
    hresult get_count(void* collection, std::int32_t* count) override {
        return machine_.get_count(collection, count);
    }
    hresult get_item(void* collection, std::uint32_t index, void** provider) override {
        return machine_.get_item(collection, index, provider);
    }
    hresult get_display_name(void* provider, std::optional<std::u16string>& name) override {
        return machine_.get_display_name(provider, name);
    }
    hresult get_guid(void* provider, GUID* guid) override { return machine_.get_guid(provider, guid); }
    std::uint32_t release(void* object) override { return machine_.release(object); }

  private:
    simulated_tracing& machine_;
    std::atomic<trace_handle> file_handle_{0};
    clockid_t file_clock_{};
    std::atomic<bool> clock_known_{false};
};

// An editor in a user's documents; nothing else.
const machine_config& bench_machine() {
    static const machine_config machine = parse_scenario(R"({"format": 1, "machine": {
        "delivery": "real_time",
        "accounts": [{"sid": "S-1-5-21-7-8-9-1001", "name": "alice", "domain": "HOST"}],
        "processes": [{"pid": 4242, "image": "\\Device\\HarddiskVolume3\\Tools\\editor.exe", "user_sid": "S-1-5-21-7-8-9-1001"}],
        "files": [{"path": "C:\\Users\\alice\\Documents\\Quarterly Report.docx", "type": "file"}]}})")
                                              .machine;
    return machine;
}

// The agent running on the simulated machine, with a collector's socket.
struct running_agent {
    running_agent()
        : system(bench_machine().inventory), machine(bench_machine()), tracing(machine), system_scope(system),
          tracing_scope(tracing) {
        agent = std::thread([this] {
            status = tallowick::app::run_traces(scope);
            ended.request_stop();
            machine.wake_waiters();
        });
        if (!machine.wait_for_processing(3, ended.get_token()))
            std::fprintf(stderr, "pipeline_bench: the agent ended with status %d before it ran\n", status);
    }
    ~running_agent() {
        tallowick::app::stop_requested.store(true);
        agent.join();
    }

    tallowick::testing::udp_receiver collector; // bound before anything is sent
    simulated_system system;
    simulated_tracing machine;
    clocked_tracing tracing;
    tallowick::platform::scoped_system system_scope;
    tallowick::platform::scoped_tracing tracing_scope;
    const tallowick::monitor::event_scope scope = tallowick::app::agent_scope({}, {});
    std::stop_source ended;
    std::thread agent;
    int status = 0;
};

std::unique_ptr<running_agent> agent;

built_record file_open(const char16_t* name) {
    file_event open;
    open.process_id = 4242;
    open.name = name;
    open.share_access = 3;
    return build_record(describe_file_event(open));
}

// The file session's lost-event counter.
std::uint32_t file_events_lost() {
    tallowick::testing::properties_block block = tallowick::testing::make_properties();
    agent->machine.control_trace(0, u"Velmar_Trace_FileKernel", &block.properties, 0);
    return block.properties.EventsLost;
}

// Writes `batch` copies of `record` into the session per iteration, hands the
// last buffer over, and waits until the session has read them all, or for
// `batch` datagrams when the records are reported.
void run_stream(benchmark::State& state, built_record record, bool reported, int batch) {
    agent->machine.describe(record);
    const auto cpu_before = agent->tracing.file_session_cpu();
    const std::uint32_t lost_before = file_events_lost();
    std::int64_t delivered = 0;
    for (auto _ : state) {
        for (int i = 0; i < batch; ++i) {
            if (agent->machine.deliver(record, std::chrono::seconds(10), {}).consumers != 1) {
                state.SkipWithError("the file session did not take the record");
                return;
            }
        }
        agent->machine.flush_buffers();
        delivered += batch;
        if (!reported)
            agent->machine.wait_until_read({});
        for (int i = 0; reported && i < batch; ++i) {
            if (!agent->collector.receive()) {
                state.SkipWithError("a datagram did not arrive");
                return;
            }
        }
    }
    const auto cpu_after = agent->tracing.file_session_cpu();
    const std::uint32_t lost = file_events_lost() - lost_before;
    delivered -= lost;
    state.counters["lost"] = lost;
    state.SetItemsProcessed(delivered);
    agent->machine.forget(record);
    if (cpu_before && cpu_after && delivered > 0)
        state.counters["session_ns_per_record"] =
            static_cast<double>((*cpu_after - *cpu_before).count()) / static_cast<double>(delivered);
}

void BM_reported_file_opens(benchmark::State& state) {
    run_stream(state, file_open(u"\\Device\\HarddiskVolume3\\Users\\alice\\Documents\\Quarterly Report.docx"),
               true, 64);
}
BENCHMARK(BM_reported_file_opens)->UseRealTime();

void BM_rejected_file_opens(benchmark::State& state) {
    run_stream(state, file_open(u"\\Device\\HarddiskVolume3\\Windows\\System32\\kernel32.dll"), false, 4096);
}
BENCHMARK(BM_rejected_file_opens)->UseRealTime();

// The floor: the reported stream's datagram, sent from one reused socket with a
// plain sendto and received by the same receiver, 64 at a time.
void BM_raw_sendto_floor(benchmark::State& state) {
    const std::string datagram =
        R"({"id":12,"proc":4242,"Operation":"READ + WRITE","Filename":"C:\\Users\\alice\\Documents\\Quarterly Report.docx","Path_Type":"FILE","Process_Name":"C:\\Tools\\editor.exe","Process_Owner":"alice","Event_Type":"FILESYSTEM"})";
    const int socket_fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(13251);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::int64_t sent = 0;
    for (auto _ : state) {
        for (int i = 0; i < 64; ++i)
            sendto(socket_fd, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&to),
                   sizeof to);
        for (int i = 0; i < 64; ++i) {
            if (!agent->collector.receive()) {
                state.SkipWithError("a datagram did not arrive");
                close(socket_fd);
                return;
            }
        }
        sent += 64;
    }
    close(socket_fd);
    state.SetItemsProcessed(sent);
}
BENCHMARK(BM_raw_sendto_floor)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    // The agent prints a line per reported event: to /dev/null, the results to
    // the standard output the program was given.
    const int results_fd = dup(1);
    std::ofstream results("/proc/self/fd/" + std::to_string(results_fd));
    if (results_fd < 0 || !results || std::freopen("/dev/null", "w", stdout) == nullptr) {
        std::fputs("pipeline_bench: cannot set the console aside\n", stderr);
        return 1;
    }
    benchmark::ConsoleReporter reporter(isatty(results_fd) != 0 ? benchmark::ConsoleReporter::OO_ColorTabular
                                                                : benchmark::ConsoleReporter::OO_Tabular);
    reporter.SetOutputStream(&results);
    reporter.SetErrorStream(&results);

    agent = std::make_unique<running_agent>();
    benchmark::RunSpecifiedBenchmarks(&reporter);
    agent.reset();
    benchmark::Shutdown();
    close(results_fd);
    return 0;
}
