#include "platform/simulated/sid_text.h"

#include <gtest/gtest.h>

namespace tallowick::platform::simulated {
namespace {

TEST(SidText, RoundTripsWellKnownAndUserSids) {
    for (const char* text : {"S-1-5-18", "S-1-5-21-1-2-3-1001", "S-1-0-0", "S-1-5-21-4294967295-1-2-3",
                             "S-1-281474976710655-1"}) {
        const auto binary = sid_from_text(text);
        ASSERT_TRUE(binary) << text;
        EXPECT_EQ(sid_to_text(*binary), std::string(text));
    }
    EXPECT_EQ(sid_from_text("S-1-5-18")->size(), 12u);
}

TEST(SidText, RejectsMalformedTextAndShortBinary) {
    for (const char* text : {"", "S-1", "S-1-5", "S-2-5-18", "S-1-5-x", "S-1-5-18-", "S-1-5-4294967296",
                             "S-1-5-1-2-3-4-5-6-7-8-9-10-11-12-13-14-15-16", "X-1-5-18", "S-1--5"}) {
        EXPECT_FALSE(sid_from_text(text)) << text;
    }
    auto binary = *sid_from_text("S-1-5-21-1-2-3");
    EXPECT_FALSE(sid_to_text(std::span(binary).first(binary.size() - 1)));
    EXPECT_FALSE(sid_to_text({}));
}

} // namespace
} // namespace tallowick::platform::simulated
