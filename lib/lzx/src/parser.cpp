#include "parser.h"

#include <algorithm>
#include <cassert>
#include <cstring>

#include "match_finder.h"
#include "match_length.h"
#include "path_node.h"

namespace lzx {

namespace {

// Search effort. HTML repeats long runs of markup with small changes, so
// matches are followed far (a parse that takes a long match whole as soon
// as it is found loses several percent there); tuned on python3-doc.
constexpr uint32_t search_depth = 32;
constexpr uint32_t infinite_cost = UINT32_MAX / 2;

// Whether any way into the node has been found yet.
inline bool reached(path_node n) { return (n >> 32) < infinite_cost; }

inline uint16_t load16(const uint8_t *p) {
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}

// Repeat offsets are held in 16 bits.
constexpr uint32_t before_span = 1u << 16;

// Slots of explicit offsets within a span: codes below 2^16.
constexpr uint32_t span_slots = 32;

}  // namespace

struct parser::state {
    uint32_t max_distance;
    uint32_t size = 0;  // of the span loaded
    // The span, after as many zero bytes as the largest repeat offset.
    std::vector<uint8_t> buffer;
    const uint8_t *span() const { return buffer.data() + before_span; }
    match_finder finder;
    match_cache cache;
    std::vector<path_node> nodes;
    std::vector<repeat_set> repeats;
    std::vector<uint32_t> steps;

    // Prices of the current parse, capped so that no path cost can
    // overflow, and laid out for the inner loops as packed ways without
    // their base cost.
    costs prices;
    path_node literal_way[num_chars];
    // The run loops read a little past the lengths they serve.
    path_node long_way[max_match + 1 + relax_overrun] = {};  // length tree part, lengths 9 and up
    path_node repeat_way[num_repeat_offsets][max_match + 1 + relax_overrun] = {};
    path_node short_way[span_slots][min_match + num_primary_lengths + relax_overrun] = {};  // lengths 2..8 by slot
    path_node long_header[span_slots];                     // main symbol of lengths 9 and up
    path_node footer_way[span_slots][8];                   // footer by slot and its low 3 bits

    // Whether runs of lengths are offered four at a time.
    bool wide;

    state(uint32_t window_bits, bool wide_relax)
        : max_distance(std::min((1u << window_bits) - 3, max_span_distance)),
          buffer(before_span + max_span_size),
          finder(max_distance, max_match, search_depth, take_whole_length),
          nodes(max_span_size + 1 + relax_overrun),
          repeats(max_span_size + 1),
          wide(wide_relax) {}

    void prepare_prices(const costs &p);

    // Finds the cheapest way into every position of [begin, end), given the
    // way into `begin` and its repeat offsets.
    template <bool wide_relax>
    [[gnu::always_inline]] inline void find_ways(uint32_t begin, uint32_t end, uint32_t whole_length);
    void find_ways_plain(uint32_t begin, uint32_t end, uint32_t whole_length);
    LZX_WIDE_TARGET void find_ways_wide(uint32_t begin, uint32_t end, uint32_t whole_length);

    // to[l] = min(to[l], base + ways[l]) for l in [first, last].
    template <bool wide_relax>
    [[gnu::always_inline]] static void relax_run(path_node *to, const path_node *ways, path_node base,
                                                 uint32_t first, uint32_t last) {
        if constexpr (wide_relax)
            relax_lengths_wide(to, ways, base, first, last);
        else
            relax_lengths(to, ways, base, first, last);
    }

    // Offers every length of the matches [first, last) from base_way into
    // to[]. Each match serves the lengths above the one before it; a match at
    // a `taken` distance is left to its cheaper repeat offset.
    template <bool wide_relax, bool check_taken>
    [[gnu::always_inline]] void relax_matches(const match *first, const match *last, uint32_t limit, uint32_t len,
                                              const uint32_t *taken, path_node base_way, path_node *to) const {
        for (const match *m = first; m < last; m++) {
            const uint32_t top = std::min<uint32_t>(m->length, limit);
            const uint32_t distance = m->distance;
            if (check_taken && (distance == taken[0] || distance == taken[1] || distance == taken[2])) {
                len = std::max(len, top + 1);
                continue;
            }
            const uint32_t code = distance + 2u;
            const uint32_t slot = paired_slot_of(code);
            const path_node offset_way = base_way + offset_part(code, slot);
            const path_node *short_ways = short_way[slot];
            const uint32_t short_top = std::min(top, min_match + num_primary_lengths - 1);
            if (len <= short_top) {
                relax_run<wide_relax>(to, short_ways, offset_way, len, short_top);
                len = short_top + 1;
            }
            if (len <= top) {
                relax_run<wide_relax>(to, long_way, offset_way + long_header[slot], len, top);
                len = top + 1;
            }
        }
    }
    // The offset's footer and code, shared by every length of a match.
    path_node offset_part(uint32_t offset_code, uint32_t slot) const {
        return footer_way[slot][offset_code & 7] + offset_code;
    }
    // An explicit-offset match as a way into its end, before its base cost.
    path_node match_way(uint32_t offset_code, uint32_t length) const {
        uint32_t slot = paired_slot_of(offset_code);
        path_node way = offset_part(offset_code, slot);
        if (length < min_match + num_primary_lengths) return way + short_way[slot][length];
        return way + long_header[slot] + long_way[length];
    }
};

void parser::state::prepare_prices(const costs &given) {
    constexpr uint32_t cap = 1000 * price_scale;  // far above any real code length
    for (uint32_t i = 0; i < max_main_symbols; i++) prices.main[i] = std::min(given.main[i], cap);
    for (uint32_t i = 0; i < num_length_symbols; i++) prices.length[i] = std::min(given.length[i], cap);
    for (uint32_t i = 0; i < num_aligned_symbols; i++) prices.aligned[i] = std::min(given.aligned[i], cap);
    prices.aligned_block = given.aligned_block;
    const costs &p = prices;
    for (uint32_t c = 0; c < num_chars; c++) literal_way[c] = pack(p.main[c], 1, 0);
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
    for (uint32_t slot = 0; slot < span_slots; slot++) {
        const uint32_t *symbols = p.main + num_chars + 8 * slot;
        for (uint32_t len = min_match; len < min_match + num_primary_lengths; len++)
            short_way[slot][len] = pack(symbols[len - min_match], len, 0);
        long_header[slot] = pack(symbols[num_primary_lengths], 0, 0);
        // An aligned block sends the low 3 bits of a long footer through its tree.
        uint32_t bits = footer_bits(slot);
        for (uint32_t low = 0; low < 8; low++) {
            uint32_t price = p.aligned_block && bits >= 3 ? (bits - 3) * price_scale + p.aligned[low] : bits * price_scale;
            footer_way[slot][low] = pack(price, 0, 0);
        }
    }
}

parser::parser(uint32_t window_bits, bool wide_relax)
    : state_(std::make_unique<state>(window_bits, wide_relax && wide_relax_available())) {}
parser::~parser() = default;

void parser::load_span(const uint8_t *data, uint32_t size) {
    assert(size <= max_span_size);
    state_->size = size;
    if (size > 0) std::memcpy(state_->buffer.data() + before_span, data, size);  // data may be null then
    state_->finder.find_all(state_->span(), size, state_->cache);
}

// Forward dynamic programming over the positions: every node keeps its
// cheapest known way in, and the repeat offsets of that path.
template <bool wide_relax>
inline void parser::state::find_ways(uint32_t begin, uint32_t end, uint32_t whole_length) {
    const uint8_t *data = span();
    const uint32_t count = end - begin;
    path_node *const nodes = this->nodes.data();
    repeat_set *const node_repeats = repeats.data();
    const match *matches = cache.matches.data();
    const uint32_t *match_lists = cache.first.data() + begin;

    for (uint32_t i = 0; i < count;) {
        const path_node here = nodes[i];
        // Of the first node only the cost counts.
        const uint32_t here_length = i > 0 ? length_of(here) : 0;
        repeat_set reps = node_repeats[i];
        if (here_length == 1) {
            reps = node_repeats[i - 1];
            node_repeats[i] = reps;
        } else if (here_length > 1) {
            reps = repeats_after(node_repeats[i - here_length], code_of(here));
            node_repeats[i] = reps;
        }
        const uint32_t pos = begin + i;
        // A match ends in its frame, where the decoder's output ends.
        const uint32_t frame_end = std::min(end, (pos | (frame_size - 1)) + 1);
        const uint32_t limit = std::min(max_match, frame_end - pos);
        const path_node base_way = here & ~0xFFFFFFFFull;
        const uint8_t *in = data + pos;
        path_node *to = nodes + i;

        relax(to[1], base_way + literal_way[in[0]]);
        if (limit < min_match) {
            i++;
            continue;
        }

        // Matches at the repeat offsets, by direct comparison. When a match
        // ended here, R0 is its offset: going on at R0 is the same match
        // made longer, which the match's own lengths already offer, unless
        // a frame ended here.
        const bool within_frame = (pos & (frame_size - 1)) != 0;
        const uint32_t reach = std::min(pos, max_distance);
        const uint16_t head = load16(in);
        const uint32_t r0 = repeat_at(reps, 0), r1 = repeat_at(reps, 1), r2 = repeat_at(reps, 2);
        uint32_t rep_lengths[num_repeat_offsets] = {0, 0, 0};
        uint32_t continued = 0;
        // The bytes before the span can be read, so the first two bytes are
        // compared before anything else; d - 1 wraps for d = 0, which fails too.
        const bool hit0 = load16(in - r0) == head, hit1 = load16(in - r1) == head, hit2 = load16(in - r2) == head;
        if (hit0 | hit1 | hit2) {
            if (hit0 && r0 - 1 < reach) {
                uint32_t len = extend_match(in, in - r0, min_match, limit);
                if (here_length > 1 && here_length + len <= max_match && within_frame)
                    continued = len;
                else
                    rep_lengths[0] = len;
            }
            if (hit1 && r1 != r0 && r1 - 1 < reach) rep_lengths[1] = extend_match(in, in - r1, min_match, limit);
            if (hit2 && r2 != r0 && r2 != r1 && r2 - 1 < reach)
                rep_lengths[2] = extend_match(in, in - r2, min_match, limit);
        }
        uint32_t best_rep = 0;
        if (rep_lengths[1] > rep_lengths[best_rep]) best_rep = 1;
        if (rep_lengths[2] > rep_lengths[best_rep]) best_rep = 2;

        const match *first = matches + match_lists[i];
        const match *last = matches + match_lists[i + 1];
        const uint32_t longest = last > first ? std::min<uint32_t>(last[-1].length, limit) : 0;

        // A very long match is taken whole: the positions it covers are not searched.
        if (rep_lengths[best_rep] >= whole_length || longest >= whole_length) {
            uint32_t len;
            path_node way;
            if (rep_lengths[best_rep] >= longest) {
                len = rep_lengths[best_rep];
                way = base_way + repeat_way[best_rep][len];
            } else {
                len = longest;
                way = base_way + match_way(last[-1].distance + 2u, len);
            }
            relax(to[len], way);
            i += len;
            continue;
        }

        // Lengths up to `continued` are cheaper as the longer previous match.
        const uint32_t shortest = std::max(min_match, continued + 1);
        while (first < last && first->length < shortest) first++;
        // Inside a copy that the way in goes on with (at R0, for `continued`
        // more bytes), and nothing here goes further: the positions ahead
        // whose matches all end within the copy are passed over, since the
        // copy reaches those ends too and at the offset already in R0.
        // Markup repeated from earlier pages is mostly such copies.
        if (continued && first == last && rep_lengths[1] < shortest && rep_lengths[2] < shortest) {
            const uint32_t copy_end = i + continued;
            uint32_t next = i + 1;
            while (next < copy_end && reached(nodes[next])) {
                const uint32_t listed_first = match_lists[next], listed_end = match_lists[next + 1];
                if (listed_first < listed_end && next + matches[listed_end - 1].length > copy_end) break;
                next++;
            }
            if (next > i + 1 && reached(nodes[next])) {
                i = next;
                continue;
            }
        }
        if (rep_lengths[0] | rep_lengths[1] | rep_lengths[2]) {
            for (uint32_t k = 0; k < num_repeat_offsets; k++) {
                if (shortest <= rep_lengths[k])
                    relax_run<wide_relax>(to, repeat_way[k], base_way, shortest, rep_lengths[k]);
            }
        }

        // A repeat offset codes the same match cheaper; 0 is no distance.
        if (rep_lengths[0] | rep_lengths[1] | rep_lengths[2] | continued) {
            const uint32_t taken[num_repeat_offsets] = {rep_lengths[0] || continued ? r0 : 0,
                                                        rep_lengths[1] ? r1 : 0, rep_lengths[2] ? r2 : 0};
            relax_matches<wide_relax, true>(first, last, limit, shortest, taken, base_way, to);
        } else {
            relax_matches<wide_relax, false>(first, last, limit, shortest, nullptr, base_way, to);
        }
        i++;
    }
}

void parser::state::find_ways_plain(uint32_t begin, uint32_t end, uint32_t whole_length) {
    find_ways<false>(begin, end, whole_length);
}

void parser::state::find_ways_wide(uint32_t begin, uint32_t end, uint32_t whole_length) {
    find_ways<true>(begin, end, whole_length);
}

void parser::parse(const costs &prices, uint32_t begin, uint32_t end, const uint32_t start_repeats[3],
                   std::vector<item> &items, uint32_t end_repeats[3], uint32_t whole_length) {
    state &s = *state_;
    assert(begin <= end && end <= s.size);
    s.prepare_prices(prices);
    const uint8_t *data = s.span();
    const uint32_t count = end - begin;
    path_node *nodes = s.nodes.data();
    repeat_set *node_repeats = s.repeats.data();
    std::fill(nodes, nodes + count + 1, pack(infinite_cost, 0, 0));
    nodes[0] = pack(0, 0, 0);
    node_repeats[0] = pack_repeats(start_repeats);
    if (s.wide)
        s.find_ways_wide(begin, end, whole_length);
    else
        s.find_ways_plain(begin, end, whole_length);

    // Walk back from the end, then emit the items in order.
    s.steps.clear();
    for (uint32_t at = count; at > 0; at -= length_of(nodes[at])) s.steps.push_back(at);
    items.clear();
    for (size_t k = s.steps.size(); k-- > 0;) {
        const path_node n = nodes[s.steps[k]];
        const uint32_t length = length_of(n);
        if (length == 1) items.push_back({1, data[begin + s.steps[k] - 1], 0});
        else items.push_back({uint16_t(length), 0, code_of(n)});
    }
    std::memcpy(end_repeats, start_repeats, 3 * sizeof *end_repeats);
    advance_repeats(items.data(), items.size(), end_repeats);
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
    for (uint32_t &price : prices.main) price *= price_scale;
    for (uint32_t &price : prices.length) price *= price_scale;
    for (uint32_t &price : prices.aligned) price *= price_scale;
}

}  // namespace lzx
