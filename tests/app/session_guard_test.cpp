#include "app/session_guard.h"

#include "platform/tracing_api.h"
#include "support/fake_tracing.h"
#include "support/sid_and_text_system.h"
#include "trace/kernel_logger_trace.h"
#include "trace/kernel_provider.h"
#include "trace/manifest_trace.h"
#include "trace/provider.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <vector>

namespace tallowick::app {
namespace {

using namespace std::chrono_literals;
using testing::control_trace_call;
using testing::enable_trace_call;

constexpr GUID file_guid = platform::kernel_file_provider;

class SessionGuard : public ::testing::Test {
  protected:
    SessionGuard() {
        tracing.providers.push_back({u"Microsoft-Windows-Kernel-File", file_guid});
        tracing.process_until_stopped = true;
    }

    // Runs `session` on a thread of its own until the test stops it.
    void run(etw::trace_session& session) {
        running = std::async(std::launch::async, [&session] { session.start(); });
        ASSERT_TRUE(tracing.wait_until_processing(30s));
    }
    void stop(etw::trace_session& session) {
        session.stop();
        ASSERT_EQ(running.wait_for(30s), std::future_status::ready);
    }

    testing::fake_tracing tracing;
    testing::sid_and_text_system system;
    platform::scoped_tracing installed_tracing{tracing};
    platform::scoped_system installed_system{system};
    std::vector<std::string> lines;
    restore_ledger ledger{[this](std::string_view line) { lines.emplace_back(line); }};
    std::future<void> running;
};

// Our provider disabled in our session: enabled again at each check that
// finds it so; a refusal is tried again, and the third one ends the run.
TEST_F(SessionGuard, AProviderSwitchedOffIsEnabledAgainOrTheRunEndsAfterThreeTries) {
    etw::manifest_trace session(u"Velmar_Trace_FileKernel");
    etw::provider<std::uint64_t> provider(u"Microsoft-Windows-Kernel-File");
    provider.set_any_keywords(0x1C80);
    session.enable(provider);
    run(session);
    session_guard guard({&session}, {{file_guid, "Microsoft-Windows-Kernel-File"}}, ledger);

    EXPECT_EQ(guard.check(), std::nullopt); // as we left it
    EXPECT_TRUE(lines.empty());

    tracing.enabling_loggers = {3}; // someone else's session only
    const std::size_t enables = tracing.count_of<enable_trace_call>();
    EXPECT_EQ(guard.check(), std::nullopt);
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "tallowick: trace session Velmar_Trace_FileKernel: provider "
                         "Microsoft-Windows-Kernel-File is no longer enabled; enabled again"}));
    ASSERT_EQ(tracing.count_of<enable_trace_call>(), enables + 1);
    EXPECT_EQ(tracing.calls_of<enable_trace_call>().back().match_any_keyword, 0x1C80u);
    EXPECT_EQ(ledger.count(), 1u);

    lines.clear();
    tracing.enable_trace_answers.then(5).then(5).then(5);
    EXPECT_EQ(guard.check(), std::nullopt);
    EXPECT_EQ(guard.check(), std::nullopt);
    EXPECT_EQ(guard.check(),
              "trace session Velmar_Trace_FileKernel: provider Microsoft-Windows-Kernel-File is no "
              "longer enabled, and could not be put right after 3 tries: Need to be an admin");
    EXPECT_TRUE(lines.empty());
    EXPECT_EQ(ledger.count(), 1u);
    stop(session);
    EXPECT_EQ(guard.check(), std::nullopt); // a stopped session is not checked
}

// Cleared kernel flags are set again by an update of the session with our block.
TEST_F(SessionGuard, ClearedKernelFlagsAreSetAgain) {
    etw::kernel_logger_trace session(u"Velmar_Trace_WindowsKernel");
    etw::kernel::process_provider provider;
    session.enable(provider);
    run(session);
    session_guard guard({&session}, {}, ledger);

    tracing.queried_enable_flags = 0;
    EXPECT_EQ(guard.check(), std::nullopt);
    EXPECT_EQ(lines,
              (std::vector<std::string>{"tallowick: trace session Velmar_Trace_WindowsKernel: has enable "
                                        "flags 0x00000000 where 0x00000001 are needed; enable flags set "
                                        "again"}));
    const control_trace_call update = tracing.calls_of<control_trace_call>().back();
    EXPECT_EQ(update.control_code, 2u);
    EXPECT_EQ(update.session_name, u"Velmar_Trace_WindowsKernel");
    stop(session);
}

} // namespace
} // namespace tallowick::app
