// Length of the common prefix of two byte runs, eight bytes at a time.
#pragma once
#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace lzx {

// Position of the first differing byte of a and b from `len`, if it lies in
// the eight bytes there; 8 when they are all equal.
inline uint32_t differing_byte(const uint8_t *a, const uint8_t *b, uint32_t len) {
    uint64_t x, y;
    std::memcpy(&x, a + len, 8);
    std::memcpy(&y, b + len, 8);
    if (x == y) return 8;
    // The first byte in memory is the low one only on little-endian machines.
    if constexpr (std::endian::native == std::endian::little) return uint32_t(__builtin_ctzll(x ^ y) >> 3);
    return uint32_t(__builtin_clzll(x ^ y) >> 3);
}

#if defined(__SSE2__)
// The same for the sixteen bytes at `len`; 16 when they are all equal.
inline uint32_t differing_byte_of_16(const uint8_t *a, const uint8_t *b, uint32_t len) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i *>(a + len));
    const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i *>(b + len));
    const uint32_t differ = ~uint32_t(_mm_movemask_epi8(_mm_cmpeq_epi8(x, y))) & 0xFFFF;
    return differ ? uint32_t(__builtin_ctz(differ)) : 16;
}
#endif

// Counts matching bytes of a and b from `len` (already known to match) up to
// `limit`. 32 bytes a step: long matches are common.
inline uint32_t extend_match(const uint8_t *a, const uint8_t *b, uint32_t len, uint32_t limit) {
    while (len + 32 <= limit) {
#if defined(__SSE2__)
        for (uint32_t step = 0; step < 32; step += 16) {
            uint32_t k = differing_byte_of_16(a, b, len + step);
            if (k < 16) return len + step + k;
        }
#else
        for (uint32_t step = 0; step < 32; step += 8) {
            uint32_t k = differing_byte(a, b, len + step);
            if (k < 8) return len + step + k;
        }
#endif
        len += 32;
    }
    while (len + 8 <= limit) {
        uint32_t k = differing_byte(a, b, len);
        if (k < 8) return len + k;
        len += 8;
    }
    while (len < limit && a[len] == b[len]) len++;
    return len;
}

}  // namespace lzx
