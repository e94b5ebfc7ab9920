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

// The first index in [from, to) whose unit may equal, ignoring case, the ASCII
// unit `wanted_upper` (already upper case): an ASCII unit that upper-cases to it,
// or any unit from 0x80 on, which the caller has to judge itself. `to` if none.
inline std::size_t find_caseless_candidate(const std::byte* data, std::size_t from, std::size_t to,
                                           char16_t wanted_upper) {
    const auto is_candidate = [wanted_upper](char16_t unit) {
        return unit >= 0x80 || (unit >= u'a' && unit <= u'z' ? unit - 0x20 : unit) == wanted_upper;
    };
    std::size_t index = from;
#if defined(TALLOWICK_UNIT_SEARCH_SSE2)
    const __m128i pattern = _mm_set1_epi16(static_cast<short>(wanted_upper));
    const __m128i before_a = _mm_set1_epi16(u'a' - 1);
    const __m128i after_z = _mm_set1_epi16(u'z' + 1);
    const __m128i case_bit = _mm_set1_epi16(0x20);
    const __m128i beyond_ascii = _mm_set1_epi16(static_cast<short>(0xFF80));
    for (; index + 8 <= to; index += 8) {
        const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 2 * index));
        // Signed compares: units from 0x8000 on are negative, so never lower case.
        const __m128i lower =
            _mm_and_si128(_mm_cmpgt_epi16(units, before_a), _mm_cmplt_epi16(units, after_z));
        const __m128i folded = _mm_sub_epi16(units, _mm_and_si128(lower, case_bit));
        const __m128i ascii = _mm_cmpeq_epi16(_mm_and_si128(units, beyond_ascii), _mm_setzero_si128());
        const auto hits = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi16(folded, pattern))) |
                          (~static_cast<unsigned>(_mm_movemask_epi8(ascii)) & 0xFFFFu);
        if (hits != 0)
            return index + static_cast<std::size_t>(std::countr_zero(hits)) / 2;
    }
#endif
    for (; index < to; ++index) {
        if (is_candidate(code_unit_at<char16_t>(data, index)))
            return index;
    }
    return to;
}

} // namespace etw
