#include "parser.h"

#include <algorithm>
#include <cstring>

#include "match_finder.h"

namespace lzx {

namespace {

// Search effort: tuned on HTML, where the parse gains little from more.
constexpr uint32_t nice_length = 48;
constexpr uint32_t search_depth = 24;
constexpr uint32_t infinite_cost = UINT32_MAX / 2;

// One step of the cheapest path into a position: an item, optionally
// followed by a literal, optionally followed by a match at repeat offset 0.
struct path_node {
    uint32_t cost;
    uint32_t offset_code;     // of the first item when it is a match
    uint16_t length;          // first item: 1 for a literal
    uint16_t rep0_length;     // a repeat-0 match that ends the step, or 0
    uint8_t literal_between;  // a literal between the first item and the repeat-0 match
    uint32_t repeats[3];      // in force at this position; set when the node is reached
};

inline uint32_t match_length(const uint8_t *a, const uint8_t *b, uint32_t limit) {
    uint32_t len = 0;
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

inline void repeats_after(const uint32_t in[3], uint32_t offset_code, uint32_t out[3]) {
    if (offset_code >= num_repeat_offsets) {
        out[0] = offset_code - 2;
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
    std::vector<uint32_t> steps;

    // Prices of the current parse, laid out for the inner loops.
    uint32_t length_extra[max_match + 1];
    uint32_t repeat_price[num_repeat_offsets][max_match + 1];

    explicit state(uint32_t window_bits)
        : max_distance((1u << window_bits) - 3), finder(max_distance, nice_length, search_depth),
          nodes(frame_size + 1) {}

    void prepare_prices(const costs &prices);
    uint32_t footer_price(const costs &prices, uint32_t offset_code) const;
};

void parser::state::prepare_prices(const costs &prices) {
    for (uint32_t len = 0; len <= max_match; len++)
        length_extra[len] = len >= min_match + num_primary_lengths ? prices.length[len - 9] : 0;
    for (uint32_t k = 0; k < num_repeat_offsets; k++) {
        for (uint32_t len = min_match; len <= max_match; len++) {
            uint32_t symbol = num_chars + 8 * k + std::min(len - min_match, num_primary_lengths);
            repeat_price[k][len] = prices.main[symbol] + length_extra[len];
        }
    }
}

uint32_t parser::state::footer_price(const costs &prices, uint32_t offset_code) const {
    uint32_t slot = slot_of(offset_code);
    uint32_t bits = footer_bits(slot);
    if (prices.aligned_block && bits >= 3)
        return bits - 3 + prices.aligned[(offset_code - slot_bases.base[slot]) & 7];
    return bits;
}

parser::parser(uint32_t window_bits) : state_(std::make_unique<state>(window_bits)) {}
parser::~parser() = default;

void parser::load_frame(const uint8_t *data, uint32_t size) {
    state_->frame.assign(data, data + size);
    state_->finder.find_all(state_->frame.data(), size, state_->cache);
}

void parser::parse(const costs &prices, uint32_t begin, uint32_t end, const uint32_t start_repeats[3],
                   std::vector<item> &items, uint32_t end_repeats[3]) {
    state &s = *state_;
    s.prepare_prices(prices);
    const uint8_t *data = s.frame.data();
    const uint32_t count = end - begin;
    path_node *nodes = s.nodes.data();
    for (uint32_t i = 0; i <= count; i++) nodes[i].cost = infinite_cost;
    nodes[0].cost = 0;
    std::memcpy(nodes[0].repeats, start_repeats, sizeof nodes[0].repeats);

    auto relax = [&](uint32_t to, uint32_t cost, uint32_t length, uint32_t offset_code, bool literal_between,
                     uint32_t rep0_length) {
        path_node &n = nodes[to];
        if (cost < n.cost) {
            n.cost = cost;
            n.offset_code = offset_code;
            n.length = uint16_t(length);
            n.rep0_length = uint16_t(rep0_length);
            n.literal_between = literal_between;
        }
    };

    for (uint32_t i = 0; i < count;) {
        path_node &here = nodes[i];
        if (i > 0) {
            // The repeat offsets follow from the step that reached this node.
            const path_node &prev = here;
            uint32_t step = prev.length + prev.literal_between + prev.rep0_length;
            const uint32_t *before = nodes[i - step].repeats;
            if (prev.length == 1)
                std::memcpy(here.repeats, before, sizeof here.repeats);
            else
                repeats_after(before, prev.offset_code, here.repeats);
        }
        const uint32_t pos = begin + i;
        const uint32_t limit = std::min(max_match, end - pos);
        const uint32_t base = here.cost;
        const uint32_t *reps = here.repeats;
        const uint8_t *in = data + pos;

        relax(i + 1, base + prices.main[in[0]], 1, 0, false, 0);
        if (limit < min_match) {
            i++;
            continue;
        }

        // Matches at the repeat offsets, by direct comparison.
        uint32_t rep_lengths[num_repeat_offsets] = {0, 0, 0};
        uint32_t best_rep = 0;
        for (uint32_t k = 0; k < num_repeat_offsets; k++) {
            uint32_t d = reps[k];
            if (d == 0 || d > pos || d > s.max_distance) continue;
            if ((k >= 1 && d == reps[0]) || (k == 2 && d == reps[1])) continue;
            if (in[0] != in[-int32_t(d)] || in[1] != in[1 - int32_t(d)]) continue;
            rep_lengths[k] = match_length(in, in - d, limit);
            if (rep_lengths[k] > rep_lengths[best_rep]) best_rep = k;
        }

        const match *first = s.cache.matches.data() + s.cache.first[pos];
        const match *last = s.cache.matches.data() + s.cache.first[pos + 1];
        uint32_t longest = last > first ? std::min<uint32_t>(last[-1].length, limit) : 0;

        // A long match is taken whole: the positions it covers are not searched.
        if (rep_lengths[best_rep] >= nice_length || longest >= nice_length) {
            uint32_t len, code, price;
            if (rep_lengths[best_rep] >= longest) {
                len = rep_lengths[best_rep];
                code = best_rep;
                price = s.repeat_price[best_rep][len];
            } else {
                len = longest;
                code = last[-1].distance + 2u;
                price = prices.main[num_chars + 8 * slot_of(code) + num_primary_lengths] + s.length_extra[len] +
                        s.footer_price(prices, code);
            }
            relax(i + len, base + price, len, code, false, 0);
            i += len;
            continue;
        }

        for (uint32_t k = 0; k < num_repeat_offsets; k++) {
            for (uint32_t len = min_match; len <= rep_lengths[k]; len++)
                relax(i + len, base + s.repeat_price[k][len], len, k, false, 0);
        }

        uint32_t len = min_match;
        for (const match *m = first; m < last && len <= limit; m++) {
            uint32_t code = m->distance + 2u;
            uint32_t symbols = num_chars + 8 * slot_of(code);
            uint32_t offset_base = base + s.footer_price(prices, code);
            uint32_t top = std::min<uint32_t>(m->length, limit);
            for (; len <= top; len++) {
                uint32_t price = prices.main[symbols + std::min(len - min_match, num_primary_lengths)] +
                                 s.length_extra[len];
                relax(i + len, offset_base + price, len, code, false, 0);
            }
        }

        // A literal, then a repeat-0 match the literal's own path may not see.
        if (rep_lengths[0] == 0 && limit > min_match) {
            uint32_t d = reps[0];
            if (d != 0 && d <= pos + 1 && d <= s.max_distance) {
                uint32_t after = match_length(in + 1, in + 1 - d, limit - 1);
                if (after >= min_match)
                    relax(i + 1 + after, base + prices.main[in[0]] + s.repeat_price[0][after], 1, 0, false, after);
            }
        }

        // The longest match, a literal, then the same offset again.
        if (longest > 0 && longest + 1 + min_match <= end - pos) {
            uint32_t d = last[-1].distance;
            const uint8_t *next = in + longest + 1;
            uint32_t after = match_length(next, next - d, std::min(max_match, end - pos - longest - 1));
            if (after >= min_match) {
                uint32_t code = d + 2u;
                uint32_t price = prices.main[num_chars + 8 * slot_of(code) +
                                             std::min(longest - min_match, num_primary_lengths)] +
                                 s.length_extra[longest] + s.footer_price(prices, code) +
                                 prices.main[in[longest]] + s.repeat_price[0][after];
                relax(i + longest + 1 + after, base + price, longest, code, true, after);
            }
        }
        if (rep_lengths[best_rep] > 0 && rep_lengths[best_rep] + 1 + min_match <= end - pos) {
            uint32_t rl = rep_lengths[best_rep];
            uint32_t d = reps[best_rep];
            const uint8_t *next = in + rl + 1;
            uint32_t after = match_length(next, next - d, std::min(max_match, end - pos - rl - 1));
            if (after >= min_match) {
                uint32_t price = s.repeat_price[best_rep][rl] + prices.main[in[rl]] + s.repeat_price[0][after];
                relax(i + rl + 1 + after, base + price, rl, best_rep, true, after);
            }
        }
        i++;
    }

    // Walk back from the end, then emit the steps in order.
    s.steps.clear();
    for (uint32_t at = count; at > 0;) {
        s.steps.push_back(at);
        const path_node &n = nodes[at];
        at -= n.length + n.literal_between + n.rep0_length;
    }
    items.clear();
    uint32_t reps[3] = {start_repeats[0], start_repeats[1], start_repeats[2]};
    for (size_t k = s.steps.size(); k-- > 0;) {
        const path_node &n = nodes[s.steps[k]];
        uint32_t pos = begin + s.steps[k] - (n.length + n.literal_between + n.rep0_length);
        if (n.length == 1) {
            items.push_back({1, data[pos], 0});
        } else {
            items.push_back({n.length, 0, n.offset_code});
            uint32_t next[3];
            repeats_after(reps, n.offset_code, next);
            std::memcpy(reps, next, sizeof reps);
        }
        pos += n.length;
        if (n.literal_between) items.push_back({1, data[pos++], 0});
        if (n.rep0_length) items.push_back({n.rep0_length, 0, 0});
    }
    std::memcpy(end_repeats, reps, sizeof reps);
}

void parser::initial_costs(uint32_t window_bits, costs &prices) {
    uint32_t slots = position_slots_for(window_bits);
    for (uint32_t i = 0; i < max_main_symbols; i++) prices.main[i] = 16;
    for (uint32_t c = 0; c < num_chars; c++) prices.main[c] = 8;
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
