#pragma once
// How a string predicate compares a property's text with the expected text, and
// the views it compares through.

#include "decoding/property_parser.h"
#include "decoding/string_content.h"
#include "decoding/unit_search.h"

#include <array>
#include <cstddef>
#include <cstring>
#include <cwctype>
#include <functional>
#include <type_traits>

namespace etw::predicates {
namespace adapters {

// A found string property seen as its characters: string_content_length code
// units at the slice's data, in the payload, nothing copied.
template <typename Char> struct generic_string {
    code_unit_view<Char> operator()(const property_slice& slice) const {
        return {slice.data, string_content_length<Char>(slice.data, slice.length)};
    }
};

} // namespace adapters

namespace comparers {

// Code units equal after the runtime's towupper, in the default locale.
template <typename Char> struct iequal_to {
    static_assert(sizeof(Char) <= sizeof(std::wint_t));

    bool operator()(Char left, Char right) const { return left == right || upper(left) == upper(right); }

    // The default locale folds nothing below 0x80 but a-z, so there the table
    // answers for towupper; every other unit goes to towupper itself.
    static std::wint_t upper(Char unit) {
        const auto value = static_cast<std::wint_t>(unit);
        return value < 0x80 ? ascii_upper[value] : std::towupper(value);
    }

  private:
    static constexpr auto ascii_upper = [] {
        std::array<std::wint_t, 0x80> table{};
        for (std::wint_t c = 0; c < 0x80; ++c)
            table[c] = c >= 'a' && c <= 'z' ? c - ('a' - 'A') : c;
        return table;
    }();
};

namespace details {

// Whether the units of `expected` from index 1 on match the view from `start` + 1.
template <typename Equal, typename View, typename Text>
bool rest_matches(const View& view, std::size_t start, const Text& expected) {
    using unit = typename Text::value_type;
    if constexpr (std::is_same_v<Equal, std::equal_to<unit>> && std::is_same_v<View, code_unit_view<unit>>) {
        // Exact units are equal bytes.
        return std::memcmp(view.data() + (start + 1) * sizeof(unit), expected.data() + 1,
                           (expected.size() - 1) * sizeof(unit)) == 0;
    } else {
        const Equal equal{};
        for (std::size_t i = 1; i < expected.size(); ++i) {
            if (!equal(view[start + i], expected[i]))
                return false;
        }
        return true;
    }
}

// The first start position in [from, to) whose units may match the first two of
// `expected` (its first alone when it has one): exactly the matches of that
// prefix for exact comparison, a superset for the caseless one. Screening two
// units leaves few false starts where one separator would leave many.
template <typename Equal, typename View, typename Text>
std::size_t next_candidate(const View& view, std::size_t from, std::size_t to, const Text& expected) {
    using unit = typename Text::value_type;
    const unit first = expected[0];
    if constexpr (std::is_same_v<View, code_unit_view<char16_t>> && std::is_same_v<unit, char16_t>) {
        // A start before `to` leaves the whole text, so its second unit, readable.
        const bool pair = expected.size() >= 2;
        if constexpr (std::is_same_v<Equal, std::equal_to<char16_t>>) {
            return pair ? find_unit_pair(view.data(), from, to, first, expected[1])
                        : find_unit(view.data(), from, to, first);
        } else if constexpr (std::is_same_v<Equal, iequal_to<char16_t>>) {
            const std::wint_t upper = iequal_to<char16_t>::upper(first);
            if (upper < 0x80) {
                const std::wint_t second_upper = pair ? iequal_to<char16_t>::upper(expected[1]) : 0x80;
                if (second_upper < 0x80)
                    return find_caseless_pair_candidate(view.data(), from, to, static_cast<char16_t>(upper),
                                                        static_cast<char16_t>(second_upper));
                return find_caseless_candidate(view.data(), from, to, static_cast<char16_t>(upper));
            }
        }
    }
    const Equal equal{};
    while (from < to && !equal(view[from], first))
        ++from;
    return from;
}

} // namespace details

// The expected text occurs in the property (an empty one always does). Start
// positions are tried in order, screened by their first unit.
template <typename Equal> struct contains {
    template <typename View, typename Text> bool operator()(const View& view, const Text& expected) const {
        const std::size_t n = view.size();
        const std::size_t m = expected.size();
        if (m == 0)
            return true;
        if (n < m)
            return false;
        const std::size_t starts = n - m + 1;
        const Equal equal{};
        for (std::size_t start = details::next_candidate<Equal>(view, 0, starts, expected); start < starts;
             start = details::next_candidate<Equal>(view, start + 1, starts, expected)) {
            if (equal(view[start], expected[0]) && details::rest_matches<Equal>(view, start, expected))
                return true;
        }
        return false;
    }
};

// The property ends with the expected text (an empty one always does).
template <typename Equal> struct ends_with {
    template <typename View, typename Text> bool operator()(const View& view, const Text& expected) const {
        const std::size_t n = view.size();
        const std::size_t m = expected.size();
        if (n < m)
            return false;
        const Equal equal{};
        for (std::size_t i = 0; i < m; ++i) {
            if (!equal(view[n - m + i], expected[i]))
                return false;
        }
        return true;
    }
};

} // namespace comparers
} // namespace etw::predicates
