#include "parser.h"

#include <algorithm>
#include <cstring>

#include "match_finder.h"
#include "match_length.h"

namespace lzx {

namespace {

// Search effort. HTML repeats long runs of markup with small changes, so
// matches are followed far (a parse that takes a long match whole as soon
// as it is found loses several percent there); tuned on python3-doc.
constexpr uint32_t take_whole_length = 128;
constexpr uint32_t search_depth = 32;
constexpr uint32_t infinite_cost = UINT32_MAX / 2;

// The cheapest known way into a position, packed so that keeping the
// cheaper of two ways is one compare: the path cost in the high half, then
// the last item's length (1 for a literal; stored inverted, so that of
// equal costs the longer item wins) and offset code. A packed length of 0
// means no length: ways are sums of parts and only one part carries it.
using path_node = uint64_t;
constexpr uint32_t length_field = 0xFFFF;

inline constexpr path_node pack(uint32_t cost, uint32_t length, uint32_t offset_code) {
    return uint64_t(cost) << 32 | (length ? length_field - length : 0) << 16 | offset_code;
}
inline uint32_t cost_of(path_node n) { return uint32_t(n >> 32); }
inline uint32_t length_of(path_node n) { return length_field - (uint32_t(n >> 16) & 0xFFFF); }
inline uint32_t code_of(path_node n) { return uint32_t(n) & 0xFFFF; }
inline void relax(path_node &n, path_node way) { n = std::min(n, way); }

// Repeat offsets in force at a position. Within a frame offsets fit 16
// bits; a larger one (from the caller) is unusable and is clamped.
struct repeat_set {
    uint16_t r[3];
};

inline uint16_t load16(const uint8_t *p) {
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}

template <typename T>
inline void repeats_after(const T in[3], uint32_t offset_code, T out[3]) {
    if (offset_code >= num_repeat_offsets) {
        out[0] = T(offset_code - 2);
        out[1] = in[0];
        out[2] = in[1];
        return;
    }
    out[0] = in[offset_code];
    out[1] = in[1];
    out[2] = in[2];
    out[offset_code] = in[0];
}

}  // namespace

struct parser::state {
    uint32_t max_distance;
    std::vector<uint8_t> frame;
    match_finder finder;
    match_cache cache;
    std::vector<path_node> nodes;
    std::vector<repeat_set> repeats;
    std::vector<uint32_t> steps;

    // Prices of the current parse, capped so that no path cost can
    // overflow, and laid out for the inner loops as packed ways without
    // their base cost.
    costs prices;
    path_node long_way[max_match + 1];    // length tree part, lengths 9 and up
    path_node repeat_way[num_repeat_offsets][max_match + 1];
    path_node short_way[max_position_slots][num_primary_lengths + 1];  // lengths 2..8 by slot
    path_node long_header[max_position_slots];                          // main symbol of lengths 9 and up

    explicit state(uint32_t window_bits)
        : max_distance((1u << window_bits) - 3),
          finder(max_distance, max_match, search_depth, take_whole_length),
          nodes(frame_size + 1),
          repeats(frame_size + 1) {}

    const costs &prepare_prices(const costs &p);
    uint32_t footer_price(uint32_t offset_code) const {
        uint32_t slot = slot_of(offset_code);
        uint32_t bits = footer_bits(slot);
        if (prices.aligned_block && bits >= 3)
            return bits - 3 + prices.aligned[(offset_code - slot_bases.base[slot]) & 7];
        return bits;
    }
    // An explicit-offset match, footer included, as a way into its end.
    path_node match_way(uint32_t base, uint32_t offset_code, uint32_t length) const {
        uint32_t slot = slot_of(offset_code);
        path_node way = pack(base + footer_price(offset_code), 0, offset_code);
        if (length < min_match + num_primary_lengths) return way + short_way[slot][length - min_match];
        return way + long_header[slot] + long_way[length];
    }
};

const costs &parser::state::prepare_prices(const costs &given) {
    constexpr uint32_t cap = 1000;  // bits; far above any real code length
    for (uint32_t i = 0; i < max_main_symbols; i++) prices.main[i] = std::min(given.main[i], cap);
    for (uint32_t i = 0; i < num_length_symbols; i++) prices.length[i] = std::min(given.length[i], cap);
    for (uint32_t i = 0; i < num_aligned_symbols; i++) prices.aligned[i] = std::min(given.aligned[i], cap);
    prices.aligned_block = given.aligned_block;
    const costs &p = prices;
    for (uint32_t len = 0; len <= max_match; len++) {
        uint32_t extra = len >= min_match + num_primary_lengths ? p.length[len - 9] : 0;
        long_way[len] = pack(extra, len, 0);
    }
    for (uint32_t k = 0; k < num_repeat_offsets; k++) {
        for (uint32_t len = min_match; len <= max_match; len++) {
            uint32_t symbol = num_chars + 8 * k + std::min(len - min_match, num_primary_lengths);
            repeat_way[k][len] = long_way[len] + pack(p.main[symbol], 0, k);
        }
    }
    for (uint32_t slot = 0; slot < max_position_slots; slot++) {
        const uint32_t *symbols = p.main + num_chars + 8 * slot;
        for (uint32_t l = 0; l < num_primary_lengths; l++) short_way[slot][l] = pack(symbols[l], l + min_match, 0);
        long_header[slot] = pack(symbols[num_primary_lengths], 0, 0);
    }
    return prices;
}

parser::parser(uint32_t window_bits) : state_(std::make_unique<state>(window_bits)) {}
parser::~parser() = default;

void parser::load_frame(const uint8_t *data, uint32_t size) {
    state_->frame.assign(data, data + size);
    state_->finder.find_all(state_->frame.data(), size, state_->cache);
}

// Forward dynamic programming over the positions: every node keeps its
// cheapest known way in, and the repeat offsets of that path.
void parser::parse(const costs &given_prices, uint32_t begin, uint32_t end, const uint32_t start_repeats[3],
                   std::vector<item> &items, uint32_t end_repeats[3]) {
    state &s = *state_;
    const costs &prices = s.prepare_prices(given_prices);
    const uint8_t *data = s.frame.data();
    const uint32_t count = end - begin;
    path_node *nodes = s.nodes.data();
    repeat_set *node_repeats = s.repeats.data();
    std::fill(nodes, nodes + count + 1, pack(infinite_cost, 0, 0));
    nodes[0] = pack(0, 0, 0);
    for (uint32_t k = 0; k < num_repeat_offsets; k++)
        node_repeats[0].r[k] = uint16_t(std::min(start_repeats[k], 0xFFFFu));

    for (uint32_t i = 0; i < count;) {
        const path_node here = nodes[i];
        const uint32_t here_length = length_of(here);
        uint16_t *reps = node_repeats[i].r;
        if (i > 0) {
            const uint16_t *before = node_repeats[i - here_length].r;
            if (here_length == 1)
                std::memcpy(reps, before, sizeof node_repeats[i].r);
            else
                repeats_after(before, code_of(here), reps);
        }
        const uint32_t pos = begin + i;
        const uint32_t limit = std::min(max_match, end - pos);
        const uint32_t base = cost_of(here);
        const path_node base_way = pack(base, 0, 0);
        const uint8_t *in = data + pos;
        path_node *to = nodes + i;

        relax(to[1], pack(base + prices.main[in[0]], 1, 0));
        if (limit < min_match) {
            i++;
            continue;
        }

        // Matches at the repeat offsets, by direct comparison. When a match
        // ended here, R0 is its offset: going on at R0 is the same match
        // made longer, which the match's own lengths already offer.
        uint32_t rep_lengths[num_repeat_offsets] = {0, 0, 0};
        uint32_t best_rep = 0;
        uint32_t continued = 0;
        const uint32_t reach = std::min(pos, s.max_distance);
        const uint16_t head = load16(in);
        for (uint32_t k = 0; k < num_repeat_offsets; k++) {
            uint32_t d = reps[k];
            if (d - 1 >= reach || load16(in - d) != head) continue;  // d = 0 wraps and fails too
            if ((k >= 1 && d == reps[0]) || (k == 2 && d == reps[1])) continue;
            uint32_t len = extend_match(in, in - d, 0, limit);
            if (k == 0 && here_length > 1 && here_length + len <= max_match) {
                continued = len;
                continue;
            }
            rep_lengths[k] = len;
            if (len > rep_lengths[best_rep]) best_rep = k;
        }

        const match *first = s.cache.matches.data() + s.cache.first[pos];
        const match *last = s.cache.matches.data() + s.cache.first[pos + 1];
        uint32_t longest = last > first ? std::min<uint32_t>(last[-1].length, limit) : 0;

        // A very long match is taken whole: the positions it covers are not searched.
        if (rep_lengths[best_rep] >= take_whole_length || longest >= take_whole_length) {
            uint32_t len;
            path_node way;
            if (rep_lengths[best_rep] >= longest) {
                len = rep_lengths[best_rep];
                way = base_way + s.repeat_way[best_rep][len];
            } else {
                len = longest;
                way = s.match_way(base, last[-1].distance + 2u, len);
            }
            relax(to[len], way);
            i += len;
            continue;
        }

        // Lengths up to `continued` are cheaper as the longer previous match.
        const uint32_t shortest = std::max(min_match, continued + 1);
        for (uint32_t k = 0; k < num_repeat_offsets; k++) {
            const path_node *ways = s.repeat_way[k];
            for (uint32_t len = shortest; len <= rep_lengths[k]; len++) relax(to[len], base_way + ways[len]);
        }

        uint32_t len = shortest;
        for (const match *m = first; m < last && len <= limit; m++) {
            uint32_t top = std::min<uint32_t>(m->length, limit);
            // A repeat offset codes the same match cheaper.
            if ((m->distance == reps[0] && (rep_lengths[0] || continued)) ||
                (m->distance == reps[1] && rep_lengths[1]) || (m->distance == reps[2] && rep_lengths[2])) {
                len = std::max(len, top + 1);
                continue;
            }
            const uint32_t code = m->distance + 2u;
            const uint32_t slot = slot_of(code);
            const path_node offset_way = pack(base + s.footer_price(code), 0, code);
            const path_node *short_ways = s.short_way[slot] - min_match;
            for (; len <= top && len < min_match + num_primary_lengths; len++)
                relax(to[len], offset_way + short_ways[len]);
            const path_node long_base = offset_way + s.long_header[slot];
            for (; len <= top; len++) relax(to[len], long_base + s.long_way[len]);
        }
        i++;
    }

    // Walk back from the end, then emit the items in order.
    s.steps.clear();
    for (uint32_t at = count; at > 0; at -= length_of(nodes[at])) s.steps.push_back(at);
    items.clear();
    uint32_t reps[3] = {start_repeats[0], start_repeats[1], start_repeats[2]};
    for (size_t k = s.steps.size(); k-- > 0;) {
        const path_node n = nodes[s.steps[k]];
        const uint32_t length = length_of(n);
        if (length == 1) {
            items.push_back({1, data[begin + s.steps[k] - 1], 0});
            continue;
        }
        items.push_back({uint16_t(length), 0, code_of(n)});
        uint32_t next[3];
        repeats_after(reps, code_of(n), next);
        std::memcpy(reps, next, sizeof reps);
    }
    std::memcpy(end_repeats, reps, sizeof reps);
}

void parser::initial_costs(uint32_t window_bits, costs &prices) {
    uint32_t slots = position_slots_for(window_bits);
    for (uint32_t i = 0; i < max_main_symbols; i++) prices.main[i] = 16;
    // Literals priced low at first: the first parse then keeps only the matches
    // that clearly pay, which gives the next pass sounder statistics.
    for (uint32_t c = 0; c < num_chars; c++) prices.main[c] = 6;
    for (uint32_t slot = 0; slot < slots; slot++) {
        for (uint32_t l = 0; l <= num_primary_lengths; l++) {
            // Near slots and short lengths are the common ones; repeats most of all.
            uint32_t price = slot < num_repeat_offsets ? 6 + slot : 8 + slot / 4;
            prices.main[num_chars + 8 * slot + l] = price + l / 3;
        }
    }
    for (uint32_t i = 0; i < num_length_symbols; i++) prices.length[i] = i < 8 ? 4 + i / 2 : 8 + i / 64;
    for (uint32_t i = 0; i < num_aligned_symbols; i++) prices.aligned[i] = 3;
    prices.aligned_block = false;
}

}  // namespace lzx
