// One record from the platform's callback to its provider's filter: the user
// session's callback (boundary and GUID walk over three providers, the match
// last), the kernel session's, and beside them the floor, the provider's own
// dispatch to the same filter.
#include "decoding/record_filter.h"
#include "platform/windows_facts.h"
#include "support/fake_tracing.h"
#include "support/sid_and_text_system.h"
#include "trace/kernel_logger_trace.h"
#include "trace/manifest_trace.h"

#include <benchmark/benchmark.h>

#include <deque>
#include <string>

namespace {

const GUID file_guid = tallowick::platform::kernel_file_provider;

struct bench_setup {
    bench_setup() {
        tracing.providers = {{u"A", GUID{1, 0, 0, {}}}, {u"B", GUID{2, 0, 0, {}}}, {u"File", file_guid}};
        etw::record_filter counting({}, {});
        counting.add_event_callback([this](const EVENT_RECORD&, const etw::trace_context&) { ++seen; });
        for (const char16_t* name : {u"A", u"B", u"File"}) {
            providers.emplace_back(name).attach_filter(counting);
            session.enable(providers.back());
        }
        processes.attach_filter(counting);
        kernel.enable(processes);
        record.EventHeader.ProviderId = file_guid;
        record.UserContext = static_cast<etw::trace_session*>(&session);
        kernel_record.EventHeader.ProviderId = processes.provider_guid;
        kernel_record.UserContext = static_cast<etw::trace_session*>(&kernel);
    }

    tallowick::testing::fake_tracing tracing;
    tallowick::testing::sid_and_text_system system;
    tallowick::platform::scoped_tracing tracing_scope{tracing};
    tallowick::platform::scoped_system system_scope{system};
    std::deque<etw::manifest_provider> providers;
    etw::kernel::process_provider processes;
    etw::manifest_trace session{u"Velmar_Trace_FileKernel"};
    etw::kernel_logger_trace kernel{u"Velmar_Trace_WindowsKernel"};
    EVENT_RECORD record{};
    EVENT_RECORD kernel_record{};
    long seen = 0;
};

void BM_user_record_callback(benchmark::State& state) {
    bench_setup setup;
    for (auto _ : state)
        etw::manifest_trace::on_user_record(&setup.record);
    benchmark::DoNotOptimize(setup.seen);
}
BENCHMARK(BM_user_record_callback);

void BM_kernel_record_callback(benchmark::State& state) {
    bench_setup setup;
    for (auto _ : state)
        etw::kernel_logger_trace::on_kernel_record(&setup.kernel_record);
    benchmark::DoNotOptimize(setup.seen);
}
BENCHMARK(BM_kernel_record_callback);

void BM_provider_dispatch_floor(benchmark::State& state) {
    bench_setup setup;
    for (auto _ : state)
        setup.providers.back().dispatch(setup.record, setup.session.context());
    benchmark::DoNotOptimize(setup.seen);
}
BENCHMARK(BM_provider_dispatch_floor);

} // namespace

BENCHMARK_MAIN();
