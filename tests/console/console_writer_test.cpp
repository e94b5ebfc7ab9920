#include "console/console_writer.h"

#include "support/gate.h"

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tallowick::console {
namespace {

// An output that keeps every write and can be held blocked.
struct held_output {
    std::mutex mutex;
    std::vector<std::string> writes;
    testing::gate released;
    testing::gate entered;
    bool blocking = false;

    bool write(std::string_view bytes) {
        entered.open();
        if (blocking)
            released.wait();
        const std::lock_guard lock(mutex);
        writes.emplace_back(bytes);
        return true;
    }
    std::string text() {
        const std::lock_guard lock(mutex);
        std::string all;
        for (const std::string& write : writes)
            all += write;
        return all;
    }
};

std::string numbered(int i) {
    return "line " + std::to_string(i) + "\n";
}

TEST(ConsoleWriter, WritesWholeLinesInOrderInWritesThatStayWhole) {
    auto out = std::make_shared<held_output>();
    std::vector<std::string> notices;
    std::string expected;
    {
        console_writer writer([out](std::string_view bytes) { return out->write(bytes); },
                              [&](std::string_view line) { notices.emplace_back(line); });
        for (int i = 0; i < 2000; ++i) {
            ASSERT_TRUE(writer.write(numbered(i)));
            expected += numbered(i);
        }
        const std::string long_line(3 * console_writer::whole_write, 'x');
        writer.write(long_line + "\n");
        expected += long_line + "\n";
        EXPECT_EQ(writer.finish(), 0u);
    }
    EXPECT_EQ(out->text(), expected);
    for (const std::string& write : out->writes) {
        EXPECT_EQ(write.back(), '\n');
        if (write.size() > console_writer::whole_write) {
            EXPECT_EQ(write.find('\n'), write.size() - 1) << "only a single long line exceeds a whole write";
        }
    }
    EXPECT_TRUE(notices.empty());
}

TEST(ConsoleWriter, ABlockedOutputCostsCountedLinesNeverAWait) {
    auto out = std::make_shared<held_output>();
    out->blocking = true;
    std::vector<std::string> notices;
    std::mutex notices_mutex;
    console_writer writer([out](std::string_view bytes) { return out->write(bytes); },
                          [&](std::string_view line) {
                              const std::lock_guard lock(notices_mutex);
                              notices.emplace_back(line);
                          },
                          64);
    ASSERT_TRUE(writer.write(numbered(0)));
    out->entered.wait(); // the writer is blocked in the output with line 0
    int kept = 0;
    int dropped = 0;
    for (int i = 1; i <= 40; ++i)
        (writer.write(numbered(i)) ? kept : dropped) += 1;
    EXPECT_EQ(kept, 8); // 64 bytes of "line N\n" and "line NN\n"
    EXPECT_EQ(writer.dropped(), static_cast<std::uint64_t>(dropped));
    out->released.open();
    EXPECT_EQ(writer.finish(), static_cast<std::uint64_t>(dropped));
    std::string expected;
    for (int i = 0; i <= kept; ++i)
        expected += numbered(i);
    EXPECT_EQ(out->text(), expected); // whole lines, in order, none lost silently
    const std::lock_guard lock(notices_mutex);
    EXPECT_EQ(notices, std::vector<std::string>{"tallowick: " + std::to_string(dropped) +
                                                " console lines were dropped while standard output was not "
                                                "taking them"});
}

// A pipe whose reader has gone: every line from the failed write on is
// counted as dropped, and one notice says so, naming the stream.
TEST(ConsoleWriter, AFailedOutputCountsEveryLineItDidNotTake) {
    testing::gate failed;
    int writes = 0;
    std::vector<std::string> notices;
    console_writer writer(
        [&](std::string_view) {
            ++writes;
            failed.open();
            return false;
        },
        [&](std::string_view line) { notices.emplace_back(line); }, console_writer::default_capacity,
        "standard error");
    writer.write(numbered(0) + numbered(1));
    failed.wait();
    for (int i = 2; i < 5; ++i)
        writer.write(numbered(i)); // some may have gone with the first write, or after the failure
    EXPECT_EQ(writer.finish(), 5u);
    EXPECT_EQ(writes, 1);
    EXPECT_EQ(notices, std::vector<std::string>{"tallowick: standard error failed; its console lines are "
                                                "counted as dropped from now on"});
}

TEST(ConsoleWriter, FinishGivesUpOnAnOutputThatStaysBlockedAndCountsTheRest) {
    auto out = std::make_shared<held_output>();
    out->blocking = true;
    std::vector<std::string> notices;
    {
        console_writer writer([out](std::string_view bytes) { return out->write(bytes); },
                              [&](std::string_view line) { notices.emplace_back(line); });
        writer.write(numbered(0));
        out->entered.wait();
        writer.write(numbered(1));
        writer.write(numbered(2));
        EXPECT_EQ(writer.finish(std::chrono::milliseconds(0)), 2u);
        EXPECT_FALSE(writer.write(numbered(3))); // finished: nothing more is taken
    }
    out->released.open(); // the thread left behind ends; it owns what it uses
    EXPECT_EQ(notices.size(), 1u);
}

} // namespace
} // namespace tallowick::console
