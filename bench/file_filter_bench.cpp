// The file provider's filter on Kernel-File event 12 records, as its set-up
// attaches it: the version test, then fourteen negated tests on FileName.
// Beside it, its floor (one schema lookup and parser walk to FileName) and the
// whole session-thread cost of a record that passes (the set-up's provider:
// filter, the callback's reads and one queued task).
#include "decoding/current_record.h"
#include "decoding/event_schema.h"
#include "decoding/property_parser.h"
#include "decoding/record_filter.h"
#include "monitor/file_provider_setup.h"
#include "monitor/process_tracker.h"
#include "platform/simulated/record_builder.h"
#include "platform/windows_facts.h"
#include "pool/thread_pool.h"
#include "support/fake_tracing.h"
#include "support/sid_and_text_system.h"
#include "trace/provider.h"

#include <benchmark/benchmark.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace {

namespace simulated = tallowick::platform::simulated;

class filter_run {
  public:
    filter_run(std::uint8_t version, std::u16string name)
        : filter_({tallowick::platform::file_create_event, tallowick::platform::file_delete_path_event,
                   tallowick::platform::file_rename_path_event,
                   tallowick::platform::file_create_new_file_event},
                  tallowick::monitor::file_event_predicate()) {
        simulated::file_event open;
        open.version = version;
        open.process_id = 4242;
        open.share_access = 3;
        open.name = std::move(name);
        record_ = simulated::build_record(simulated::describe_file_event(open));
        tracing_.tdh.add(record_);
        filter_.add_event_callback([this](const EVENT_RECORD&, const etw::trace_context&) { ++passed_; });
    }

    void run(benchmark::State& state, bool expect_pass) {
        const tallowick::platform::scoped_tracing scope(tracing_);
        for (auto _ : state) {
            context_.current().begin(); // a new record, as the dispatch says
            filter_.handle_event(record_.record(), context_);
        }
        if ((passed_ != 0) != expect_pass)
            throw std::logic_error("the filter decided otherwise than expected");
        state.SetItemsProcessed(state.iterations());
    }

    const EVENT_RECORD& record() const { return record_.record(); }
    const etw::trace_context& context() const { return context_; }
    tallowick::testing::fake_tracing& tracing() { return tracing_; }

  private:
    tallowick::testing::fake_tracing tracing_;
    simulated::built_record record_;
    etw::trace_context context_;
    etw::record_filter filter_;
    long passed_ = 0;
};

const std::u16string document =
    u"\\Device\\HarddiskVolume3\\Users\\alice\\Documents\\Quarterly Report 2024.docx";

void rejected_by_version(benchmark::State& state) {
    filter_run(2, document).run(state, false);
}

void rejected_at_appdata(benchmark::State& state) {
    filter_run(1, u"\\Device\\HarddiskVolume3\\Users\\alice\\AppData\\Local\\Temp\\~DF3A1B.tmp")
        .run(state, false);
}

void passes_all_fourteen(benchmark::State& state) {
    filter_run(1, document).run(state, true);
}

// The floor of one string test: schema lookup and walk to FileName.
void locate_file_name(benchmark::State& state) {
    filter_run run(1, document);
    const tallowick::platform::scoped_tracing scope(run.tracing());
    for (auto _ : state) {
        const etw::event_schema schema(run.record(), run.context());
        etw::property_parser parser(schema);
        benchmark::DoNotOptimize(parser.locate_property(u"FileName"));
    }
}

// Nothing reaches it: every record here is out of scope.
class unused_sink final : public tallowick::monitor::message_sink {
  public:
    void send(rapidjson::Document&, tallowick::monitor::message_kind,
              tallowick::monitor::record_time) override {}
};

// Out of scope for the monitored path, the queued task ends at its first test.
void dispatch_through_set_up(benchmark::State& state) {
    filter_run run(1, document);
    run.tracing().providers = {{u"Microsoft-Windows-Kernel-File", tallowick::platform::kernel_file_provider}};
    tallowick::testing::sid_and_text_system system;
    const tallowick::platform::scoped_system system_scope(system);
    const tallowick::platform::scoped_tracing tracing_scope(run.tracing());
    const tallowick::monitor::event_scope scope{{"\\nowhere\\"}, {}, {}, {}, {}};
    unused_sink sink;
    tallowick::monitor::process_tracker tracker;
    tallowick::pool::thread_pool pool(1);
    etw::provider<std::uint64_t> provider(u"Microsoft-Windows-Kernel-File");
    tallowick::monitor::setup_filekernel_provider(provider, pool, scope, sink, tracker);
    for (auto _ : state) {
        run.context().current().begin();
        provider.dispatch(run.record(), run.context());
    }
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK(rejected_by_version);
BENCHMARK(rejected_at_appdata);
BENCHMARK(passes_all_fourteen);
BENCHMARK(locate_file_name);
BENCHMARK(dispatch_through_set_up);

} // namespace

BENCHMARK_MAIN();
