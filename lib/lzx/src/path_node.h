// The parser's record of the cheapest way into a position, and the loops
// that offer a run of lengths to the positions ahead.
#pragma once
#include <algorithm>
#include <cstdint>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
// Code that calls relax_lengths_wide is built with this.
#define LZX_WIDE_TARGET __attribute__((target("avx2")))
#else
#define LZX_WIDE_TARGET
#endif

namespace lzx {

// Packed so that keeping the cheaper of two ways is one compare: the path
// cost in the high half, then the last item's length (1 for a literal;
// stored inverted, so that of equal costs the longer item wins) and offset
// code. A packed length of 0 means no length: ways are sums of parts and
// only one part carries it. Every way stays below 2^62.
using path_node = uint64_t;
inline constexpr uint32_t length_field = 0xFFFF;

inline constexpr path_node pack(uint32_t cost, uint32_t length, uint32_t offset_code) {
    return uint64_t(cost) << 32 | (length ? length_field - length : 0) << 16 | offset_code;
}
inline uint32_t length_of(path_node n) { return length_field - (uint32_t(n >> 16) & 0xFFFF); }
inline uint32_t code_of(path_node n) { return uint32_t(n) & 0xFFFF; }
inline void relax(path_node &n, path_node way) { n = std::min(n, way); }

// The wide loop reads and writes this many entries past the last length.
inline constexpr uint32_t relax_overrun = 3;

// to[l] = min(to[l], base + ways[l]) for every l in [first, last].
inline void relax_lengths(path_node *to, const path_node *ways, path_node base, uint32_t first, uint32_t last) {
    for (uint32_t l = first; l <= last; l++) relax(to[l], base + ways[l]);
}

#if defined(__x86_64__) || defined(__i386__)
// The same, four lengths at a time: the loop above runs a few steps of
// varying count, so its end is mispredicted; this one runs a step or two.
// Reads up to relax_overrun entries past `last` of both arrays, and writes
// back those of `to` unchanged. Signed compares serve: ways are below 2^62.
LZX_WIDE_TARGET inline void relax_lengths_wide(path_node *to, const path_node *ways, path_node base,
                                               uint32_t first, uint32_t last) {
    const __m256i b = _mm256_set1_epi64x(int64_t(base));
    uint32_t l = first;
    for (; l + 3 <= last; l += 4) {
        const __m256i way = _mm256_add_epi64(b, _mm256_loadu_si256(reinterpret_cast<const __m256i *>(ways + l)));
        const __m256i old = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(to + l));
        const __m256i cheaper = _mm256_cmpgt_epi64(old, way);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(to + l), _mm256_blendv_epi8(old, way, cheaper));
    }
    if (l > last) return;
    const __m256i in_range = _mm256_cmpgt_epi64(_mm256_set1_epi64x(last - l + 1), _mm256_setr_epi64x(0, 1, 2, 3));
    const __m256i way = _mm256_add_epi64(b, _mm256_loadu_si256(reinterpret_cast<const __m256i *>(ways + l)));
    const __m256i old = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(to + l));
    const __m256i cheaper = _mm256_and_si256(in_range, _mm256_cmpgt_epi64(old, way));
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(to + l), _mm256_blendv_epi8(old, way, cheaper));
}

// The processor is examined first, in case this runs in a constructor
// before the compiler runtime's own.
inline bool wide_relax_available() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}
#else
inline void relax_lengths_wide(path_node *to, const path_node *ways, path_node base, uint32_t first, uint32_t last) {
    relax_lengths(to, ways, base, first, last);
}
inline bool wide_relax_available() { return false; }
#endif

}  // namespace lzx
