#include "decoding/unit_search.h"

#include "decoding/comparers.h"

#include <gtest/gtest.h>

#include <cstring>
#include <utility>
#include <vector>

namespace etw {
namespace {

// Units laid out at an odd address, as they may lie in a payload.
struct odd_units {
    explicit odd_units(const std::u16string& text) : bytes(1 + 2 * text.size()) {
        std::memcpy(bytes.data() + 1, text.data(), 2 * text.size());
    }
    const std::byte* data() const { return bytes.data() + 1; }
    std::vector<std::byte> bytes;
};

TEST(UnitSearch, FindsTheFirstMatchingUnitInEveryPositionOfABlock) {
    for (std::size_t length = 0; length <= 40; ++length) {
        for (std::size_t at = 0; at <= length; ++at) {
            std::u16string text(length, u'x');
            if (at < length)
                text[at] = u'\0';
            const odd_units units(text);
            for (std::size_t from = 0; from <= length; from += 3) {
                const std::size_t expected = at < length && at >= from ? at : length;
                EXPECT_EQ(find_unit(units.data(), from, length, u'\0'), expected)
                    << length << ' ' << at << ' ' << from;
            }
        }
    }
}

TEST(UnitSearch, CaselessCandidatesAreEveryFoldedMatchAndEveryNonAsciiUnit) {
    const std::u16string text =
        u"\\Device\\HarddiskVolume3\\Users\\\u00e9l\u0131se\\AppData\\wINDOWS\\x\uFFFF\u8000";
    const odd_units units(text);
    for (const char16_t wanted : {u'\\', u'A', u'W', u'I', u'3', u'Z'}) {
        std::vector<std::size_t> expected;
        for (std::size_t i = 0; i < text.size(); ++i) {
            const char16_t unit = text[i];
            const char16_t folded = unit >= u'a' && unit <= u'z' ? static_cast<char16_t>(unit - 0x20) : unit;
            if (unit >= 0x80 || folded == wanted)
                expected.push_back(i);
        }
        std::vector<std::size_t> found;
        for (std::size_t i = find_caseless_candidate(units.data(), 0, text.size(), wanted); i < text.size();
             i = find_caseless_candidate(units.data(), i + 1, text.size(), wanted))
            found.push_back(i);
        EXPECT_EQ(found, expected) << static_cast<int>(wanted);
    }
}

TEST(UnitSearch, PairSearchesFindEveryStartOfThePairAndCaselessOnesEveryStartBesideANonAsciiUnit) {
    const std::u16string text =
        u"\\Device\\HarddiskVolume3\\Users\\\u00e9l\u0131se\\AppData\\wINDOWS\\x\uFFFF\u8000\\ap";
    const odd_units units(text);
    const std::size_t to = text.size() - 1; // the unit at `to` is read as a second unit
    const auto fold = [](char16_t unit) {
        return unit >= u'a' && unit <= u'z' ? static_cast<char16_t>(unit - 0x20) : unit;
    };
    for (const auto& [first, second] :
         {std::pair{u'\\', u'A'}, std::pair{u'W', u'I'}, std::pair{u'\\', u'\\'}, std::pair{u'S', u'\\'},
          std::pair{u'3', u'Z'}}) {
        std::vector<std::size_t> exact;
        std::vector<std::size_t> caseless;
        for (std::size_t i = 0; i < to; ++i) {
            if (text[i] == first && text[i + 1] == second)
                exact.push_back(i);
            if (text[i] >= 0x80 || text[i + 1] >= 0x80 ||
                (fold(text[i]) == first && fold(text[i + 1]) == second))
                caseless.push_back(i);
        }
        std::vector<std::size_t> found_exact;
        for (std::size_t i = find_unit_pair(units.data(), 0, to, first, second); i < to;
             i = find_unit_pair(units.data(), i + 1, to, first, second))
            found_exact.push_back(i);
        std::vector<std::size_t> found_caseless;
        for (std::size_t i = find_caseless_pair_candidate(units.data(), 0, to, first, second); i < to;
             i = find_caseless_pair_candidate(units.data(), i + 1, to, first, second))
            found_caseless.push_back(i);
        EXPECT_EQ(found_exact, exact) << static_cast<int>(first) << ' ' << static_cast<int>(second);
        EXPECT_EQ(found_caseless, caseless) << static_cast<int>(first) << ' ' << static_cast<int>(second);
    }
}

TEST(UnitSearch, ContainsAgreesWithAPlainSearchAcrossBlockEdges) {
    using predicates::comparers::contains;
    using predicates::comparers::iequal_to;
    const std::u16string text = u"C:\\Windows\\System32\\DriverStore\\FileRepository\\x.inf";
    const odd_units units(text);
    const code_unit_view<char16_t> view(units.data(), text.size());
    for (std::size_t start = 0; start < text.size(); ++start) {
        for (std::size_t length = 1; start + length <= text.size(); length += 5) {
            std::u16string needle = text.substr(start, length);
            EXPECT_TRUE(contains<std::equal_to<char16_t>>{}(view, needle)) << start << ' ' << length;
            for (auto& unit : needle)
                unit = unit >= u'A' && unit <= u'Z' ? static_cast<char16_t>(unit + 0x20) : unit;
            EXPECT_TRUE(contains<iequal_to<char16_t>>{}(view, needle)) << start << ' ' << length;
            needle.back() = u'#';
            EXPECT_FALSE(contains<iequal_to<char16_t>>{}(view, needle)) << start << ' ' << length;
        }
    }
}

} // namespace
} // namespace etw
