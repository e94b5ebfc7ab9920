// Reading EnumerateTraceGuidsEx's answer, which comes from the platform: every
// count and offset in it is checked against the answer's length.
#include "trace/provider_enables.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace etw {
namespace {

// One provider instance per entry, each with its enables (logger id, enabled).
struct instance {
    std::vector<std::pair<std::uint16_t, bool>> enables;
};

std::vector<std::byte> answer_of(const std::vector<instance>& instances) {
    std::vector<std::byte> answer(8);
    const auto put = [&answer](std::size_t offset, auto value) {
        if (answer.size() < offset + sizeof value)
            answer.resize(offset + sizeof value);
        std::memcpy(answer.data() + offset, &value, sizeof value);
    };
    put(0, static_cast<std::uint32_t>(instances.size()));
    std::size_t at = 8;
    for (std::size_t i = 0; i < instances.size(); ++i) {
        const std::size_t size = 16 + 32 * instances[i].enables.size();
        put(at, static_cast<std::uint32_t>(i + 1 < instances.size() ? size : 0)); // NextOffset
        put(at + 4, static_cast<std::uint32_t>(instances[i].enables.size()));
        for (std::size_t e = 0; e < instances[i].enables.size(); ++e) {
            put(at + 16 + 32 * e, std::uint32_t{instances[i].enables[e].second});
            put(at + 16 + 32 * e + 6, instances[i].enables[e].first);
        }
        at += size;
        answer.resize(at);
    }
    return answer;
}

TEST(EnablingLoggers, ReadsEveryInstanceAndNothingPastTheAnswer) {
    const std::vector<std::byte> two = answer_of({{{{3, true}, {9, false}}}, {{{12, true}}}});
    std::vector<std::byte> next_too_far = two;
    next_too_far[8] = std::byte{0xF0}; // the first instance's NextOffset points past the end
    std::vector<std::byte> too_many = answer_of({{{{5, true}}}});
    too_many[12] = std::byte{200}; // EnableCount beyond the entries present
    struct answer_case {
        std::string what;
        std::vector<std::byte> answer;
        std::vector<std::uint16_t> loggers;
    };
    const answer_case cases[] = {
        {"two instances, one enable switched off", two, {3, 12}},
        {"no instance", answer_of({}), {}},
        {"an instance without enables", answer_of({{}}), {}},
        {"shorter than its head", std::vector<std::byte>(7), {}},
        {"cut inside the second instance", std::vector<std::byte>(two.begin(), two.end() - 20), {3}},
        {"a next offset past the end", next_too_far, {3}},
        {"more enables counted than present", too_many, {5}},
    };
    for (const answer_case& c : cases)
        EXPECT_EQ(enabling_loggers(c.answer), c.loggers) << c.what;
}

} // namespace
} // namespace etw
