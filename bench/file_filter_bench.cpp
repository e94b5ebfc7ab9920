// The file provider's whole filter on Kernel-File event 12 records: the version
// test, then fourteen negated tests on FileName. Beside it, its floor: one
// schema lookup and parser walk to FileName.
#include "decoding/comparers.h"
#include "decoding/predicates.h"
#include "decoding/property_view_predicate.h"
#include "decoding/record_filter.h"
#include "platform/simulated/record_builder.h"
#include "support/fake_tracing.h"

#include <benchmark/benchmark.h>

#include <functional>
#include <stdexcept>
#include <string>

namespace {

using namespace etw::predicates;
namespace simulated = tallowick::platform::simulated;

template <typename Comparer> auto not_name(std::u16string expected) {
    using test =
        details::property_view_predicate<std::u16string, adapters::generic_string<char16_t>, Comparer>;
    return details::not_filter<test>(test(u"FileName", std::move(expected)));
}

template <typename L> L chain_left(L left) {
    return left;
}
template <typename L, typename R, typename... Rest> auto chain_left(L left, R right, Rest... rest) {
    return chain_left(details::and_filter<L, R>(std::move(left), std::move(right)), std::move(rest)...);
}

etw::event_predicate file_filter() {
    using exact = comparers::contains<std::equal_to<char16_t>>;
    using caseless = comparers::contains<comparers::iequal_to<char16_t>>;
    using ends = comparers::ends_with<std::equal_to<char16_t>>;
    auto names = chain_left(
        not_name<exact>(u"\\desktop.ini"), not_name<caseless>(u"\\appdata\\"),
        not_name<exact>(u"ProgramData\\Microsoft\\Search\\Data\\"), not_name<exact>(u"Windows\\Prefetch\\"),
        not_name<exact>(u"\\$RECYCLE.BIN\\"),
        not_name<exact>(u"ProgramData\\Foxit Software\\Foxit PDF Reader\\FoxitData.txt"),
        not_name<exact>(u"Windows\\INF\\"), not_name<caseless>(u"windows\\system32\\driverstore"),
        not_name<caseless>(u"windows\\system32\\drivers"), not_name<ends>(u".dll"),
        not_name<exact>(u".dll\\"), not_name<ends>(u"\\"), not_name<caseless>(u"windows\\system32\\spool"),
        not_name<caseless>(u"windows\\appcompat\\"));
    return details::and_filter(version_is(1), std::move(names));
}

class filter_run {
  public:
    filter_run(std::uint8_t version, std::u16string name) : filter_({12, 26, 27, 30}, file_filter()) {
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
        for (auto _ : state)
            filter_.handle_event(record_.record(), context_);
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

BENCHMARK(rejected_by_version);
BENCHMARK(rejected_at_appdata);
BENCHMARK(passes_all_fourteen);
BENCHMARK(locate_file_name);

} // namespace

BENCHMARK_MAIN();
