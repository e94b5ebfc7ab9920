#include "monitor/pending_attribution.h"
#include "monitor/process_tracker.h"
#include "platform/simulated/simulated_system.h"
#include "platform/system_api.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>

namespace tallowick::monitor {
namespace {

namespace simulated = platform::simulated;
using namespace std::chrono_literals;

// Generous: a bound against hangs, not a timing.
constexpr auto patience = 30s;

// Calc runs under id 777 since time 50; nothing else runs.
simulated::machine_inventory machine() {
    simulated::machine_inventory model;
    model.processes = {{777, "\\Device\\HarddiskVolume3\\Windows\\calc.exe", "S-1-5-18",
                        simulated::process_access::full, 4, "", 50}};
    return model;
}

class PendingAttribution : public ::testing::Test {
  protected:
    // Where the record's origin arrives once it is decided.
    std::future<event_origin> attribute(std::uint32_t pid, record_time when) {
        auto promise = std::make_shared<std::promise<event_origin>>();
        std::future<event_origin> decided = promise->get_future();
        pending->attribute(pid, when,
                           [promise](event_origin origin) { promise->set_value(std::move(origin)); });
        return decided;
    }
    static std::string image_of(const event_origin& origin) {
        return origin.facts ? origin.facts->image : "UNKNOWN";
    }

    simulated::simulated_system system{machine()};
    platform::scoped_system installed{system};
    process_tracker tracker;
    std::atomic<int> flushes{0};
    std::unique_ptr<pending_attribution> pending =
        std::make_unique<pending_attribution>(tracker, [this] { ++flushes; });
};

// The dropper's open came before its start and end, and calc took its id
// meanwhile: it waits, and the kernel session's records name it.
TEST_F(PendingAttribution, ARecordWaitsForTheKernelSessionAndNeverNamesTheNewcomer) {
    std::future<event_origin> dropper_open = attribute(777, 20);
    // The kernel session is asked to hand its buffers over meanwhile.
    const auto deadline = std::chrono::steady_clock::now() + patience;
    while (flushes.load() == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(1ms);
    EXPECT_GE(flushes.load(), 1);
    EXPECT_EQ(dropper_open.wait_for(0ms), std::future_status::timeout);
    tracker.started(777, 10, {"C:\\Temp\\dropper.exe", "alice"});
    tracker.ended(777, 30);
    pending->kernel_progressed(30);
    ASSERT_EQ(dropper_open.wait_for(patience), std::future_status::ready);
    const event_origin origin = dropper_open.get();
    EXPECT_TRUE(origin.decided);
    EXPECT_EQ(image_of(origin), "C:\\Temp\\dropper.exe");
    EXPECT_EQ(pending->waiting(), 0u);
}

// Alive under the id and created by the record's time: the author, at once.
TEST_F(PendingAttribution, AProcessAliveAndCreatedByTheTimeIsTheAuthor) {
    std::future<event_origin> calc_open = attribute(777, 60);
    ASSERT_EQ(calc_open.wait_for(patience), std::future_status::ready);
    EXPECT_EQ(image_of(calc_open.get()), "C:\\Windows\\calc.exe");
}

// Created after the record: never its author. What still waits when the
// agent stops is decided then, as at the bound: UNKNOWN, decided.
TEST_F(PendingAttribution, AProcessCreatedAfterTheRecordIsNeverBlamed) {
    std::future<event_origin> early_open = attribute(777, 40);
    EXPECT_EQ(early_open.wait_for(50ms), std::future_status::timeout);
    pending.reset();
    ASSERT_EQ(early_open.wait_for(patience), std::future_status::ready);
    const event_origin origin = early_open.get();
    EXPECT_TRUE(origin.decided);
    EXPECT_EQ(origin.facts, nullptr);
}

} // namespace
} // namespace tallowick::monitor
