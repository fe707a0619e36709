// Length of the common prefix of two byte runs, eight bytes at a time.
#pragma once
#include <cstdint>
#include <cstring>

namespace lzx {

// Counts matching bytes of a and b from `len` (already known to match) up to
// `limit`.
inline uint32_t extend_match(const uint8_t *a, const uint8_t *b, uint32_t len, uint32_t limit) {
    while (len + 8 <= limit) {
        uint64_t x, y;
        std::memcpy(&x, a + len, 8);
        std::memcpy(&y, b + len, 8);
        if (x != y) return len + uint32_t(__builtin_ctzll(x ^ y) >> 3);
        len += 8;
    }
    while (len < limit && a[len] == b[len]) len++;
    return len;
}

}  // namespace lzx
