#pragma once
// How a string predicate compares a property's text with the expected text, and
// the views it compares through.

#include "decoding/property_parser.h"
#include "decoding/string_content.h"

#include <cstddef>
#include <cwctype>
#include <functional>

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

    // The default locale folds nothing beyond A-Z below 0x80, so the table stands
    // in for towupper there; every other unit goes to towupper itself.
    static std::wint_t upper(Char unit) {
        const auto value = static_cast<std::wint_t>(unit);
        if (value < 0x80)
            return value >= 'a' && value <= 'z' ? value - ('a' - 'A') : value;
        return std::towupper(value);
    }
};

// The expected text occurs in the property (an empty one always does).
template <typename Equal> struct contains {
    template <typename View, typename Text> bool operator()(const View& view, const Text& expected) const {
        const std::size_t n = view.size();
        const std::size_t m = expected.size();
        if (m == 0)
            return true;
        if (n < m)
            return false;
        const Equal equal{};
        for (std::size_t start = 0; start <= n - m; ++start) {
            std::size_t i = 0;
            while (i < m && equal(view[start + i], expected[i]))
                ++i;
            if (i == m)
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
