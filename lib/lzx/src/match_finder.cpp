#include "match_finder.h"

#include <algorithm>
#include <cstring>

#include "lzx_format.h"
#include "match_length.h"

namespace lzx {

namespace {

constexpr uint32_t hash3_bits = 14;
constexpr uint32_t hash4_bits = 15;
// Positions fit 16 bits (a frame is 32 KiB), which halves the tables.
constexpr uint16_t none = 0xFFFF;
// A 2-byte match only pays when its offset is short.
constexpr uint32_t max_short_distance = 64;

inline uint32_t load32(const uint8_t *p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline uint32_t hash3(const uint8_t *p) {
    uint32_t v = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16;
    return (v * 0x9E3779B1u) >> (32 - hash3_bits);
}
inline uint32_t hash4(const uint8_t *p) { return (load32(p) * 0x1E35A7BDu) >> (32 - hash4_bits); }

// Keeps the list ordered by length and distance: a new longer match at a
// smaller distance also serves the lengths of the farther ones before it.
inline void add_match(match *out, uint32_t first, uint32_t &count, uint32_t length, uint32_t distance) {
    while (count > first && out[count - 1].distance >= distance) count--;
    out[count++] = {uint16_t(length), uint16_t(distance)};
}

}  // namespace

match_finder::match_finder(uint32_t max_distance, uint32_t nice_length, uint32_t max_depth, uint32_t skip_length)
    : max_distance_(std::min(max_distance, frame_size - 1)),
      nice_length_(std::clamp(nice_length, 4u, max_match)), max_depth_(std::max(max_depth, 1u)),
      skip_length_(std::max(skip_length, 4u)),
      hash2_(size_t(1) << 16), hash3_(size_t(1) << hash3_bits), hash4_(size_t(1) << hash4_bits),
      children_(2 * size_t(frame_size)) {}

inline uint32_t match_finder::advance(const uint8_t *data, uint32_t size, uint32_t pos, uint32_t best, bool record,
                                      match *out, uint32_t first, uint32_t &count) {
    const uint8_t *in = data + pos;
    const uint32_t limit = std::min(max_match, size - pos);
    const uint32_t nice = std::min(nice_length_, limit);
    const uint32_t h4 = hash4(in);
    uint32_t cur = hash4_[h4];
    hash4_[h4] = uint16_t(pos);
    uint16_t *children = children_.data();
    uint16_t *pending_lt = &children[2 * size_t(pos)];
    uint16_t *pending_gt = pending_lt + 1;
    uint32_t lt_len = 0, gt_len = 0, len = 0;
    // No tree (none) fails the distance test too: positions are below 0xFFFF.
    for (uint32_t depth = max_depth_; pos - cur <= max_distance_ && depth > 0; depth--) {
        const uint8_t *candidate = data + cur;
        if (candidate[len] == in[len]) {
            len = extend_match(candidate, in, len + 1, limit);
            if (len > best) {
                best = len;
                if (record) add_match(out, first, count, len, pos - cur);
            }
            if (len >= nice) {
                // Equal as far as we look: take over its subtrees.
                *pending_lt = children[2 * size_t(cur)];
                *pending_gt = children[2 * size_t(cur) + 1];
                return best;
            }
        }
        if (candidate[len] < in[len]) {
            *pending_lt = uint16_t(cur);
            pending_lt = &children[2 * size_t(cur) + 1];
            cur = *pending_lt;
            lt_len = len;
        } else {
            *pending_gt = uint16_t(cur);
            pending_gt = &children[2 * size_t(cur)];
            cur = *pending_gt;
            gt_len = len;
        }
        len = std::min(lt_len, gt_len);
    }
    *pending_lt = none;
    *pending_gt = none;
    return best;
}

void match_finder::find_all(const uint8_t *data, uint32_t size, match_cache &cache) {
    std::fill(hash2_.begin(), hash2_.end(), none);
    std::fill(hash3_.begin(), hash3_.end(), none);
    std::fill(hash4_.begin(), hash4_.end(), none);
    cache.first.resize(size + 1);
    // At most one match per tree node visited, plus a skipped match's
    // tail, a 2-byte and a 3-byte match: room for that is made before
    // each position, so that the lists are written through a plain pointer.
    const uint32_t most_per_position = max_depth_ + 3;
    if (cache.matches.size() < size_t(size) + most_per_position) cache.matches.resize(size + most_per_position);
    match *out = cache.matches.data();
    uint32_t count = 0;
    uint32_t skip_until = 0;
    uint16_t skip_distance = 0;
    for (uint32_t pos = 0; pos < size; pos++) {
        if (cache.matches.size() - count < most_per_position) {
            cache.matches.resize(2 * cache.matches.size());
            out = cache.matches.data();
        }
        cache.first[pos] = count;
        const uint32_t remaining = size - pos;
        if (remaining < 2) continue;
        const uint8_t *in = data + pos;
        const bool record = pos >= skip_until;
        const uint32_t first = count;
        // Inside a long match: its tail is the match here.
        if (!record && skip_until - pos >= min_match) out[count++] = {uint16_t(skip_until - pos), skip_distance};
        uint32_t best = 1;

        uint32_t h2 = uint32_t(in[0]) | uint32_t(in[1]) << 8;
        uint32_t cand2 = hash2_[h2];
        hash2_[h2] = uint16_t(pos);
        if (record && cand2 != none && pos - cand2 <= max_short_distance) {
            best = 2;
            out[count++] = {2, uint16_t(pos - cand2)};
        }
        if (remaining < 3) continue;

        uint32_t h3 = hash3(in);
        uint32_t cand3 = hash3_[h3];
        hash3_[h3] = uint16_t(pos);
        if (record && cand3 != none && pos - cand3 <= max_distance_) {
            uint32_t len = extend_match(data + cand3, in, 0, std::min(max_match, remaining));
            if (len >= 3) {
                best = len;
                add_match(out, first, count, len, pos - cand3);
            }
        }
        if (remaining < 4) continue;
        best = advance(data, size, pos, best, record, out, first, count);
        if (record && best >= skip_length_ && count > first) {
            skip_until = pos + out[count - 1].length;
            skip_distance = out[count - 1].distance;
        }
    }
    cache.first[size] = count;
    cache.matches.resize(count);
}

}  // namespace lzx
