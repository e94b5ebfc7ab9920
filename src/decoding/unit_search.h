#pragma once
// Searching runs of UTF-16 code units in a payload, eight units at a time where
// the processor has SSE2 (every x64 processor), one at a time elsewhere.

#include "decoding/string_content.h"

#include <bit>
#include <cstddef>
#include <cstdint>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define TALLOWICK_UNIT_SEARCH_SSE2 1
#endif

namespace etw {

// The first index in [from, to) whose unit is `wanted`, or `to`.
inline std::size_t find_unit(const std::byte* data, std::size_t from, std::size_t to, char16_t wanted) {
    std::size_t index = from;
#if defined(TALLOWICK_UNIT_SEARCH_SSE2)
    const __m128i pattern = _mm_set1_epi16(static_cast<short>(wanted));
    for (; index + 8 <= to; index += 8) {
        const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 2 * index));
        const auto hits = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi16(units, pattern)));
        if (hits != 0)
            return index + static_cast<std::size_t>(std::countr_zero(hits)) / 2;
    }
#endif
    for (; index < to; ++index) {
        if (code_unit_at<char16_t>(data, index) == wanted)
            return index;
    }
    return to;
}

// Whether `unit` may equal, ignoring case, the ASCII upper-case `wanted_upper`.
inline bool is_caseless_candidate(char16_t unit, char16_t wanted_upper) {
    return unit >= 0x80 || (unit >= u'a' && unit <= u'z' ? unit - 0x20 : unit) == wanted_upper;
}

#if defined(TALLOWICK_UNIT_SEARCH_SSE2)
// The caseless screen for one ASCII upper-case unit: a letter's two cases are
// the units that OR 0x20 makes its lower case, any other unit is itself alone.
struct caseless_pattern {
    explicit caseless_pattern(char16_t wanted_upper) {
        const short case_bit = wanted_upper >= u'A' && wanted_upper <= u'Z' ? 0x20 : 0;
        fold = _mm_set1_epi16(case_bit);
        folded = _mm_set1_epi16(static_cast<short>(wanted_upper | case_bit));
    }
    // Lanes, as a byte mask, of the eight units that may match: the folded
    // matches and every unit from 0x80 on.
    unsigned candidates(__m128i units) const { return matches(units) | beyond_ascii(units); }
    unsigned matches(__m128i units) const {
        return static_cast<unsigned>(_mm_movemask_epi8(match_lanes(units)));
    }
    __m128i match_lanes(__m128i units) const { return _mm_cmpeq_epi16(_mm_or_si128(units, fold), folded); }
    static unsigned beyond_ascii(__m128i units) {
        const __m128i ascii =
            _mm_cmpeq_epi16(_mm_subs_epu16(units, _mm_set1_epi16(0x7F)), _mm_setzero_si128());
        return ~static_cast<unsigned>(_mm_movemask_epi8(ascii)) & 0xFFFFu;
    }
    __m128i fold;
    __m128i folded;
};
#endif

// The first index in [from, to) whose unit may equal, ignoring case, the ASCII
// unit `wanted_upper` (already upper case): an ASCII unit that upper-cases to it,
// or any unit from 0x80 on, which the caller has to judge itself. `to` if none.
inline std::size_t find_caseless_candidate(const std::byte* data, std::size_t from, std::size_t to,
                                           char16_t wanted_upper) {
    std::size_t index = from;
#if defined(TALLOWICK_UNIT_SEARCH_SSE2)
    const caseless_pattern pattern(wanted_upper);
    for (; index + 8 <= to; index += 8) {
        const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 2 * index));
        const unsigned hits = pattern.candidates(units);
        if (hits != 0)
            return index + static_cast<std::size_t>(std::countr_zero(hits)) / 2;
    }
#endif
    for (; index < to; ++index) {
        if (is_caseless_candidate(code_unit_at<char16_t>(data, index), wanted_upper))
            return index;
    }
    return to;
}

// The first index in [from, to) whose unit is `first` and whose next unit is
// `second`, or `to`. The unit at `to` must be readable: a search for a text of
// two units or more never starts at the last unit.
inline std::size_t find_unit_pair(const std::byte* data, std::size_t from, std::size_t to, char16_t first,
                                  char16_t second) {
    std::size_t index = from;
#if defined(TALLOWICK_UNIT_SEARCH_SSE2)
    const __m128i first_pattern = _mm_set1_epi16(static_cast<short>(first));
    const __m128i second_pattern = _mm_set1_epi16(static_cast<short>(second));
    for (; index + 8 <= to; index += 8) {
        const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 2 * index));
        const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 2 * index + 2));
        const auto hits = static_cast<unsigned>(_mm_movemask_epi8(
            _mm_and_si128(_mm_cmpeq_epi16(here, first_pattern), _mm_cmpeq_epi16(next, second_pattern))));
        if (hits != 0)
            return index + static_cast<std::size_t>(std::countr_zero(hits)) / 2;
    }
#endif
    for (; index < to; ++index) {
        if (code_unit_at<char16_t>(data, index) == first && code_unit_at<char16_t>(data, index + 1) == second)
            return index;
    }
    return to;
}

// find_caseless_candidate for two units in a row, both given upper case and
// ASCII: a superset of the caseless matches of the pair (every start where
// either unit lies from 0x80 on). The unit at `to` must
// be readable, as for find_unit_pair.
inline std::size_t find_caseless_pair_candidate(const std::byte* data, std::size_t from, std::size_t to,
                                                char16_t first_upper, char16_t second_upper) {
    std::size_t index = from;
#if defined(TALLOWICK_UNIT_SEARCH_SSE2)
    const caseless_pattern first_pattern(first_upper);
    const caseless_pattern second_pattern(second_upper);
    for (; index + 8 <= to; index += 8) {
        const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 2 * index));
        const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 2 * index + 2));
        // A unit from 0x80 on in either place makes a candidate: one test of
        // both (a unit is beyond ASCII when a bit above the seventh is set).
        const __m128i both = _mm_and_si128(first_pattern.match_lanes(here), second_pattern.match_lanes(next));
        const unsigned hits = static_cast<unsigned>(_mm_movemask_epi8(both)) |
                              caseless_pattern::beyond_ascii(_mm_or_si128(here, next));
        if (hits != 0)
            return index + static_cast<std::size_t>(std::countr_zero(hits)) / 2;
    }
#endif
    for (; index < to; ++index) {
        const char16_t here = code_unit_at<char16_t>(data, index);
        const char16_t next = code_unit_at<char16_t>(data, index + 1);
        if (here >= 0x80 || next >= 0x80 ||
            (is_caseless_candidate(here, first_upper) && is_caseless_candidate(next, second_upper)))
            return index;
    }
    return to;
}

} // namespace etw
