#include "parser.h"

#include <algorithm>
#include <cstring>

#include "match_finder.h"

namespace lzx {

struct parser::state {
    uint32_t window_bits;
    uint32_t max_distance;
    std::vector<uint8_t> frame;
    match_finder finder;
    match_cache cache;

    explicit state(uint32_t bits)
        : window_bits(bits), max_distance((1u << bits) - 3), finder((1u << bits) - 3, 64, 32) {}
};

parser::parser(uint32_t window_bits) : state_(std::make_unique<state>(window_bits)) {}
parser::~parser() = default;

void parser::load_frame(const uint8_t *data, uint32_t size) {
    state_->frame.assign(data, data + size);
    state_->finder.find_all(state_->frame.data(), size, state_->cache);
}

namespace {

uint32_t common_length(const uint8_t *a, const uint8_t *b, uint32_t limit) {
    uint32_t n = 0;
    while (n < limit && a[n] == b[n]) n++;
    return n;
}

}  // namespace

void parser::parse(const costs &, uint32_t begin, uint32_t end, const uint32_t start_repeats[3],
                   std::vector<item> &items, uint32_t end_repeats[3]) {
    const state &s = *state_;
    const uint8_t *data = s.frame.data();
    uint32_t reps[3] = {start_repeats[0], start_repeats[1], start_repeats[2]};
    items.clear();
    uint32_t pos = begin;
    while (pos < end) {
        uint32_t limit = std::min(max_match, end - pos);
        uint32_t best_len = 0, best_code = 0;
        for (uint32_t k = 0; k < 3; k++) {
            uint32_t d = reps[k];
            if (d == 0 || d > pos || d > s.max_distance) continue;
            uint32_t len = common_length(data + pos - d, data + pos, limit);
            if (len > best_len) {
                best_len = len;
                best_code = k;
            }
        }
        uint32_t rep_len = best_len;
        for (uint32_t i = s.cache.first[pos]; i < s.cache.first[pos + 1]; i++) {
            const match &m = s.cache.matches[i];
            uint32_t len = std::min<uint32_t>(m.length, limit);
            // An explicit offset costs more than a repeat: demand a longer match.
            if (len >= 3 && len > rep_len + 1 && len > best_len) {
                best_len = len;
                best_code = m.distance + 2u;
            }
        }
        if (best_len < 2) {
            items.push_back({1, data[pos], 0});
            pos++;
            continue;
        }
        items.push_back({uint16_t(best_len), 0, best_code});
        if (best_code >= 3) {
            reps[2] = reps[1];
            reps[1] = reps[0];
            reps[0] = best_code - 2;
        } else if (best_code > 0) {
            std::swap(reps[0], reps[best_code]);
        }
        pos += best_len;
    }
    std::memcpy(end_repeats, reps, sizeof reps);
}

void parser::initial_costs(uint32_t window_bits, costs &prices) {
    uint32_t slots = position_slots_for(window_bits);
    for (uint32_t i = 0; i < max_main_symbols; i++) prices.main[i] = 16;
    for (uint32_t c = 0; c < num_chars; c++) prices.main[c] = 9;
    for (uint32_t slot = 0; slot < slots; slot++) {
        for (uint32_t l = 0; l < num_primary_lengths + 1; l++) {
            // Short lengths and near slots are the common ones.
            uint32_t price = 7 + slot / 4 + l / 2;
            if (slot < 3) price = 5 + slot + l / 2;
            prices.main[num_chars + 8 * slot + l] = price;
        }
    }
    for (uint32_t i = 0; i < num_length_symbols; i++) prices.length[i] = i < 16 ? 4 + i / 4 : 9;
    for (uint32_t i = 0; i < num_aligned_symbols; i++) prices.aligned[i] = 3;
    prices.aligned_block = false;
}

}  // namespace lzx
