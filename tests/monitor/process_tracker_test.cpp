#include "monitor/process_tracker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace tallowick::monitor {
namespace {

using verdict = process_tracker::verdict;

// Built by appending: GCC 12 warns wrongly of overlapping copies in "p" + text.
std::string life_name(int i) {
    std::string name = "p";
    name += std::to_string(i);
    return name;
}

std::string image_at(const process_tracker& tracker, std::uint32_t pid, record_time when) {
    const process_tracker::lookup found = tracker.find(pid, when);
    return found.facts ? found.facts->image : "";
}

TEST(ProcessTracker, EachTimeIsAnsweredByTheLifeThatCoversIt) {
    process_tracker tracker;
    tracker.started(100, 10, {"a.exe", "alice"});
    tracker.ended(100, 20);
    tracker.started(100, 30, {"b.exe", "bob"});                       // the id reused
    EXPECT_NE(tracker.seen(200, 15, {"old.exe", "SYSTEM"}), nullptr); // older than the agent
    EXPECT_TRUE(tracker.ended(200, 25));
    EXPECT_FALSE(tracker.ended(300, 5)); // never seen
    tracker.ended_unseen(300, 5, {"gone.exe", "alice"});
    tracker.started(400, 10, {"x.exe", "alice"});
    tracker.started(400, 40, {"y.exe", "alice"}); // its end was missed

    struct lookup_case {
        std::uint32_t pid;
        record_time when;
        verdict answer;
        std::string image;
    };
    const lookup_case cases[] = {
        {100, 9, verdict::not_this, ""}, // before its first known life: another program
        {100, 10, verdict::covered, "a.exe"},
        {100, 20, verdict::covered, "a.exe"}, // its end record's own time
        {100, 25, verdict::not_this, ""},     // between two lives
        {100, 30, verdict::covered, "b.exe"},
        {100, 1'000'000, verdict::covered, "b.exe"},
        {200, -1'000'000, verdict::covered, "old.exe"}, // seen alive: since before the agent
        {200, 25, verdict::covered, "old.exe"},
        {200, 26, verdict::not_known, ""}, // after its end: a newcomer whose start is still to come
        {300, 0, verdict::covered, "gone.exe"},
        {300, 6, verdict::not_known, ""},
        {400, 39, verdict::covered, "x.exe"},
        {400, 40, verdict::covered, "y.exe"},
        {999, 0, verdict::not_known, ""},
    };
    for (const lookup_case& test : cases) {
        const process_tracker::lookup found = tracker.find(test.pid, test.when);
        EXPECT_EQ(found.answer, test.answer) << test.pid << " at " << test.when;
        EXPECT_EQ(found.facts ? found.facts->image : "", test.image) << test.pid << " at " << test.when;
    }
    EXPECT_EQ(tracker.open_lives(), 2u);  // b.exe, y.exe
    EXPECT_EQ(tracker.ended_lives(), 4u); // a.exe, old.exe, gone.exe, x.exe
}

TEST(ProcessTracker, SightingsNeverOverrideWhatRecordsSaid) {
    process_tracker tracker;
    tracker.started(100, 10, {"a.exe", "alice"});
    tracker.ended(100, 20);
    tracker.started(100, 30, {"b.exe", "bob"});
    // A look-up raced a start: the life the record opened wins.
    EXPECT_EQ(tracker.seen(100, 35, {"late.exe", "x"})->image, "b.exe");
    // A time no life covers, but known lives surround: nothing is opened.
    EXPECT_EQ(tracker.seen(100, 25, {"late.exe", "x"}), nullptr);
    EXPECT_EQ(tracker.find(100, 25).answer, verdict::not_this);

    // Seen before its start record came (the file session ran ahead): the
    // start closes the sighting's life, and later times get the start's.
    tracker.ended(100, 40);
    EXPECT_EQ(tracker.seen(100, 60, {"c.exe", "carol"})->image, "c.exe");
    tracker.started(100, 55, {"c.exe (started)", "carol"});
    EXPECT_EQ(image_at(tracker, 100, 50), "c.exe");
    EXPECT_EQ(image_at(tracker, 100, 60), "c.exe (started)");
    EXPECT_EQ(image_at(tracker, 100, 45), "c.exe"); // the sighting reaches back to the last end
}

// Records of the kernel session that come after a live look-up learnt a later
// program under the id: the earlier life goes before it, never over it.
TEST(ProcessTracker, LivesLearntOutOfOrderStayInStartOrder) {
    process_tracker tracker;
    // The newcomer, seen alive and created at 40, before any kernel record.
    EXPECT_EQ(tracker.seen(200, 50, {"calc.exe", "alice"}, 40)->image, "calc.exe");
    EXPECT_EQ(tracker.find(200, 39).answer, verdict::not_this); // before its creation
    tracker.started(200, 10, {"dropper.exe", "alice"});
    EXPECT_TRUE(tracker.ended(200, 30));
    tracker.started(200, 40, {"calc.exe (started)", "alice"});
    EXPECT_EQ(image_at(tracker, 200, 20), "dropper.exe");
    EXPECT_EQ(tracker.find(200, 35).answer, verdict::not_this); // between the two
    EXPECT_EQ(image_at(tracker, 200, 45), "calc.exe (started)");
    EXPECT_TRUE(tracker.find(200, 20).ended);
    // A process created after a time is not opened for it.
    EXPECT_EQ(tracker.seen(300, 5, {"late.exe", "x"}, 6), nullptr);
    // The rundown: running since its creation; an open life is kept.
    tracker.ran_before(400, 3, {"svc.exe", "system"});
    tracker.ran_before(400, 1, {"other.exe", "system"});
    EXPECT_EQ(tracker.find(400, 2).answer, verdict::not_this);
    EXPECT_EQ(image_at(tracker, 400, 3), "svc.exe");
    tracker.progressed(70);
    tracker.progressed(60);
    EXPECT_EQ(tracker.progress(), 70);
}

TEST(ProcessTracker, EndedLivesAreKeptForTheGracePeriodAndUpToTheirCount) {
    struct bound_case {
        const char* what;
        process_tracker::limits limits;
        int lives;        // started at 10 * i, ended at 10 * i + 5
        std::size_t kept; // ended lives kept at the end
        record_time oldest_kept_start;
    };
    const bound_case cases[] = {
        {"within both bounds", {1000, 100}, 20, 20, 0},
        {"the count bounds", {1000, 3}, 20, 3, 170},
        {"the grace period bounds", {50, 100}, 20, 6, 140}, // ends of 145 and later are within 50 of 195
        {"no grace at all", {0, 100}, 20, 1, 190},
    };
    for (const bound_case& test : cases) {
        process_tracker tracker(test.limits);
        for (int i = 0; i < test.lives; ++i) {
            tracker.started(static_cast<std::uint32_t>(1000 + i), 10 * i, {life_name(i), "u"});
            tracker.ended(static_cast<std::uint32_t>(1000 + i), 10 * i + 5);
        }
        EXPECT_EQ(tracker.ended_lives(), test.kept) << test.what;
        EXPECT_EQ(tracker.open_lives(), 0u) << test.what;
        for (int i = 0; i < test.lives; ++i) {
            const bool kept = 10 * i >= test.oldest_kept_start;
            EXPECT_EQ(tracker.find(static_cast<std::uint32_t>(1000 + i), 10 * i + 1).answer,
                      kept ? verdict::covered : verdict::not_known)
                << test.what << ": life " << i;
        }
    }
}

TEST(ProcessTracker, ChurnStaysWithinTheBoundAndGivenFactsOutliveTheirLife) {
    process_tracker tracker({10'000'000, 8192});
    tracker.started(4242, 0, {"first.exe", "alice"});
    const auto held = tracker.find(4242, 1).facts;
    tracker.ended(4242, 2);
    // 100,000 short lives on a few hundred reused ids, one a microsecond.
    for (int i = 0; i < 100'000; ++i) {
        const auto pid = static_cast<std::uint32_t>(10 + i % 500);
        tracker.started(pid, 10 * i + 10, {"tool.exe", "alice"});
        tracker.ended(pid, 10 * i + 15);
    }
    EXPECT_EQ(tracker.ended_lives(), 8192u);
    EXPECT_EQ(tracker.open_lives(), 0u);
    EXPECT_EQ(tracker.find(4242, 1).answer, verdict::not_known);
    ASSERT_NE(held, nullptr);
    EXPECT_EQ(held->image, "first.exe");

    // One id reused over and over keeps its latest lives only; a time of an
    // earlier one is not given to them.
    process_tracker reused({10'000'000, 8192, 32});
    for (int i = 0; i < 10'000; ++i) {
        reused.started(777, 10 * i, {life_name(i), "u"});
        reused.ended(777, 10 * i + 5);
    }
    EXPECT_EQ(reused.ended_lives(), 32u);
    EXPECT_EQ(image_at(reused, 777, 10 * 9'968 + 1), "p9968");
    EXPECT_EQ(reused.find(777, 10 * 9'967 + 1).answer, verdict::not_this);
    reused.started(778, 200'000, {"q", "u"}); // the stale order entries of dropped lives pass harmlessly
    EXPECT_EQ(image_at(reused, 777, 10 * 9'999 + 1), "p9999");
    EXPECT_EQ(reused.ended_lives(), 32u);
}

// Starts and ends on one thread while others look up: every answer names the
// life the time belongs to (each image carries its start time).
TEST(ProcessTracker, ReadersSeeWholeLivesWhileTheWriterGoesOn) {
    process_tracker tracker({1'000'000'000, 64});
    constexpr int lives = 20'000;
    std::atomic<record_time> written{-1};
    std::atomic<int> wrong{0};
    std::vector<std::thread> readers;
    for (int r = 0; r < 2; ++r)
        readers.emplace_back([&] {
            while (written.load() < 10 * (lives - 1)) {
                const record_time latest = written.load();
                if (latest < 0)
                    continue;
                const record_time at = latest - latest % 10 + 3; // inside the latest life
                const auto found = tracker.find(77, at);
                if (found.answer == verdict::covered && found.facts->image != std::to_string(at - 3))
                    ++wrong;
            }
        });
    for (int i = 0; i < lives; ++i) {
        tracker.started(77, 10 * i, {std::to_string(10 * i), "u"});
        written.store(10 * i);
        tracker.ended(77, 10 * i + 5);
    }
    for (std::thread& reader : readers)
        reader.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_LE(tracker.ended_lives(), 64u);
}

} // namespace
} // namespace tallowick::monitor
