#include "match_finder.h"

#include <algorithm>
#include <cassert>
#include <cstring>

#include "lzx_format.h"
#include "match_length.h"

namespace lzx {

namespace {

constexpr uint32_t hash3_bits = 14;
constexpr uint32_t hash4_bits = 15;
// Positions fit 16 bits (a span is at most 64 KiB, and its last position
// is never stored), which halves the tables. As a candidate, `none` fails
// every distance test: stored positions are below it.
constexpr uint16_t none = 0xFFFF;
// A 2-byte match only pays when its offset is short.
constexpr uint32_t max_short_distance = 64;

// Little-endian on every machine, the first byte lowest; one load on most.
inline uint32_t load32(const uint8_t *p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline uint32_t hash3(uint32_t bytes) { return ((bytes & 0xFFFFFF) * 0x9E3779B1u) >> (32 - hash3_bits); }
inline uint32_t hash4(uint32_t bytes) { return (bytes * 0x1E35A7BDu) >> (32 - hash4_bits); }

inline void clear(std::vector<uint16_t> &table) { std::memset(table.data(), 0xFF, table.size() * sizeof(uint16_t)); }

}  // namespace

// Where the positions of a span write their matches.
struct match_finder::match_list {
    match *out;
    uint32_t first;  // the current position's list starts here
    uint32_t count;
    uint32_t last_distance;  // of the list's last match; 0 while it is empty

    void start() {
        first = count;
        last_distance = 0;
    }
    // Keeps the list ordered by length and distance: a new longer match at a
    // smaller distance also serves the lengths of the farther ones before it.
    // The tree's matches come by increasing distance, so this is rare.
    void add(uint32_t length, uint32_t distance) {
        if (distance <= last_distance)
            while (count > first && out[count - 1].distance >= distance) count--;
        out[count++] = {uint16_t(length), uint16_t(distance)};
        last_distance = distance;
    }
};

match_finder::match_finder(uint32_t max_distance, uint32_t nice_length, uint32_t max_depth, uint32_t skip_length)
    : max_distance_(std::min(max_distance, max_span_distance)),
      nice_length_(std::clamp(nice_length, 4u, max_match)), max_depth_(std::max(max_depth, 1u)),
      skip_length_(std::max(skip_length, 4u)),
      hash2_(size_t(1) << 16), hash3_(size_t(1) << hash3_bits), hash4_(size_t(1) << hash4_bits),
      children_(2 * size_t(max_span_size)) {}

// Makes `pos` the root of its tree, splitting the old tree around it. The
// nodes met are ever older, so the matches come by increasing distance;
// `len` is the length the next node is known to share. With `whole_reach`,
// every earlier position is within reach.
template <bool record, bool whole_reach>
inline uint32_t match_finder::advance(const uint8_t *data, uint32_t size, uint32_t pos, uint32_t h4, uint32_t best,
                                      match_list *lists) {
    const uint8_t *in = data + pos;
    const uint32_t limit = std::min(max_match, size - pos);
    const uint32_t nice = std::min(nice_length_, limit);
    uint32_t cur = hash4_[h4];
    hash4_[h4] = uint16_t(pos);
    uint16_t *children = children_.data();
    uint16_t *pending_lt = &children[2 * size_t(pos)];
    uint16_t *pending_gt = pending_lt + 1;
    uint32_t lt_len = 0, gt_len = 0, len = 0;
    const uint32_t max_distance = max_distance_;
    uint32_t depth = max_depth_;
    // `none` lies above every position.
    while (whole_reach ? cur < pos : pos - cur <= max_distance) {
        const uint8_t *candidate = data + cur;
        if (candidate[len] == in[len]) {
            len = extend_match(candidate, in, len + 1, limit);
            if (len > best) {
                best = len;
                if constexpr (record) lists->add(len, pos - cur);
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
            len = std::min(len, gt_len);
        } else {
            *pending_gt = uint16_t(cur);
            pending_gt = &children[2 * size_t(cur)];
            cur = *pending_gt;
            gt_len = len;
            len = std::min(len, lt_len);
        }
        if (--depth == 0) break;
    }
    *pending_lt = none;
    *pending_gt = none;
    return best;
}

template <bool record>
inline uint32_t match_finder::insert(const uint8_t *data, uint32_t size, uint32_t pos, uint32_t h4, uint32_t best,
                                     match_list *lists) {
    return pos <= max_distance_ ? advance<record, true>(data, size, pos, h4, best, lists)
                                : advance<record, false>(data, size, pos, h4, best, lists);
}

void match_finder::find_all(const uint8_t *data, uint32_t size, match_cache &cache) {
    assert(size <= max_span_size);
    clear(hash2_);
    clear(hash3_);
    clear(hash4_);
    cache.first.resize(size + 1);
    uint32_t *first = cache.first.data();
    // At most one match per tree node visited, plus a skipped match's
    // tail, a 2-byte and a 3-byte match: room for that is made before each
    // stretch of positions, so that the lists are written through a plain
    // pointer with no check per position. The room is kept from span to span.
    constexpr uint32_t stretch = 256;
    const size_t stretch_room = size_t(stretch) * (max_depth_ + 3);
    if (cache.matches.size() < size + stretch_room) cache.matches.resize(size + stretch_room);
    match_list l{cache.matches.data(), 0, 0, 0};
    // Returns the end of the stretch from `pos`.
    auto make_room = [&](uint32_t pos, uint32_t end) {
        if (cache.matches.size() - l.count < stretch_room) {
            cache.matches.resize(2 * cache.matches.size());
            l.out = cache.matches.data();
        }
        return std::min(end, pos + stretch);
    };
    uint32_t skip_until = 0;
    uint16_t skip_distance = 0;

    // 2-byte and 3-byte matches; `bytes` holds the position's next bytes,
    // the first lowest, and `root` the top of its tree. Returns the longest
    // length found, or 1.
    auto short_matches = [&](uint32_t pos, uint32_t bytes, uint32_t remaining, uint32_t root) {
        uint32_t best = 1;
        const uint32_t h2 = bytes & 0xFFFF;
        const uint32_t cand2 = hash2_[h2];
        hash2_[h2] = uint16_t(pos);
        if (pos - cand2 <= max_short_distance) {
            best = 2;
            l.add(2, pos - cand2);
        }
        if (remaining < 3) return best;
        const uint32_t h3 = hash3(bytes);
        const uint32_t cand3 = hash3_[h3];
        hash3_[h3] = uint16_t(pos);
        // A candidate's 4 bytes are in the span: it lies before pos.
        if (pos - cand3 <= max_distance_) {
            const uint32_t differ = load32(data + cand3) ^ bytes;
            // The tree's first node, when it is this candidate, makes the
            // same match at the same point of the list.
            if (differ == 0 && cand3 == root) return best;
            if ((differ & 0xFFFFFF) == 0) {
                best = extend_match(data + cand3, data + pos, 3, std::min(max_match, remaining));
                l.add(best, pos - cand3);
            }
        }
        return best;
    };

    // Inside a long match: its tail is the match here, and the position
    // joins the tables of short matches (the tree's insertion comes apart).
    auto take_tail = [&](uint32_t pos, uint32_t bytes, uint32_t remaining) {
        if (skip_until - pos >= min_match) l.out[l.count++] = {uint16_t(skip_until - pos), skip_distance};
        hash2_[bytes & 0xFFFF] = uint16_t(pos);
        if (remaining > 2) hash3_[hash3(bytes)] = uint16_t(pos);
    };

    // Positions with at least 4 bytes ahead: all three kinds of match.
    const uint32_t full_end = size > 3 ? size - 3 : 0;
    uint32_t pos = 0;
    while (pos < full_end) {
        for (const uint32_t stretch_end = make_room(pos, full_end); pos < stretch_end; pos++) {
            first[pos] = l.count;
            const uint32_t bytes = load32(data + pos);
            if (pos < skip_until) {
                take_tail(pos, bytes, size - pos);
                insert<false>(data, size, pos, hash4(bytes), 1, nullptr);
                continue;
            }
            l.start();
            const uint32_t h4 = hash4(bytes);
            const uint32_t short_best = short_matches(pos, bytes, size - pos, hash4_[h4]);
            const uint32_t best = insert<true>(data, size, pos, h4, short_best, &l);
            // Any length of 2 or more was recorded, the longest last.
            if (best >= skip_length_) {
                skip_until = pos + best;
                skip_distance = l.out[l.count - 1].distance;
            }
        }
    }
    // The last three positions: short matches only.
    make_room(pos, size);
    for (; pos < size; pos++) {
        first[pos] = l.count;
        const uint32_t remaining = size - pos;
        if (remaining < 2) continue;
        const uint8_t *in = data + pos;
        const uint32_t bytes = uint32_t(in[0]) | uint32_t(in[1]) << 8 | (remaining > 2 ? uint32_t(in[2]) << 16 : 0);
        if (pos < skip_until) {
            take_tail(pos, bytes, remaining);
            continue;
        }
        l.start();
        short_matches(pos, bytes, remaining, none);
    }
    first[size] = l.count;
}

}  // namespace lzx
