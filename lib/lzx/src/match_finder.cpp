#include "match_finder.h"

#include <algorithm>

#include "lzx_format.h"

namespace lzx {

namespace {

constexpr uint32_t hash_bits = 15;

inline uint32_t hash3(const uint8_t *p) {
    uint32_t v = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16;
    return (v * 0x9E3779B1u) >> (32 - hash_bits);
}

inline uint32_t common_length(const uint8_t *a, const uint8_t *b, uint32_t limit) {
    uint32_t n = 0;
    while (n < limit && a[n] == b[n]) n++;
    return n;
}

}  // namespace

match_finder::match_finder(uint32_t max_distance, uint32_t nice_length, uint32_t max_depth)
    : max_distance_(max_distance), nice_length_(nice_length), max_depth_(max_depth),
      head_(size_t(1) << hash_bits), chain_(frame_size) {}

void match_finder::find_all(const uint8_t *data, uint32_t size, match_cache &cache) {
    std::fill(head_.begin(), head_.end(), -1);
    cache.matches.clear();
    cache.first.assign(size + 1, 0);
    uint32_t skip_until = 0;
    for (uint32_t pos = 0; pos < size; pos++) {
        cache.first[pos] = uint32_t(cache.matches.size());
        if (pos + 3 > size) continue;
        uint32_t h = hash3(data + pos);
        int32_t cand = head_[h];
        chain_[pos] = cand;
        head_[h] = int32_t(pos);
        if (pos < skip_until) continue;
        uint32_t limit = std::min(max_match, size - pos);
        uint32_t best = 1;
        for (uint32_t depth = 0; cand >= 0 && depth < max_depth_; depth++, cand = chain_[cand]) {
            uint32_t distance = pos - uint32_t(cand);
            if (distance > max_distance_) break;
            const uint8_t *c = data + cand;
            if (c[best] != data[pos + best]) continue;
            uint32_t len = common_length(c, data + pos, limit);
            if (len > best) {
                best = len;
                cache.matches.push_back({uint16_t(len), uint16_t(distance)});
                if (len >= nice_length_ || len == limit) break;
            }
        }
        if (best >= nice_length_) skip_until = pos + best;
    }
    cache.first[size] = uint32_t(cache.matches.size());
}

}  // namespace lzx
