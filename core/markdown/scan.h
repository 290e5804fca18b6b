#pragma once

// Skipping runs of bytes that need no handling, sixteen at a time where the processor has SSE2.

#include <cstddef>
#include <cstdint>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

// The offset of the first byte at or after i (and before size) whose entry in table is not 0;
// size when there is none. Every byte whose entry may be non-zero must be among candidates: a
// block of sixteen bytes holding none of them is stepped over whole.
template <size_t N>
inline size_t skip_unmarked(const uint8_t *data, size_t i, size_t size, const uint8_t (&candidates)[N],
                            const uint8_t *table)
{
#ifdef __SSE2__
    if (i + 16 <= size) {
        __m128i wanted[N];
        for (size_t k = 0; k < N; ++k)
            wanted[k] = _mm_set1_epi8(static_cast<char>(candidates[k]));
        for (; i + 16 <= size; i += 16) {
            const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i *>(data + i));
            __m128i hits = _mm_cmpeq_epi8(block, wanted[0]);
            for (size_t k = 1; k < N; ++k)
                hits = _mm_or_si128(hits, _mm_cmpeq_epi8(block, wanted[k]));
            for (unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hits)); mask; mask &= mask - 1) {
                const size_t at = i + static_cast<size_t>(__builtin_ctz(mask));
                if (table[data[at]])
                    return at;
            }
        }
    }
#else
    (void)candidates;
#endif
    while (i < size && !table[data[i]])
        ++i;
    return i;
}
