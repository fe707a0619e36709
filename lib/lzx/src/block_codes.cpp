#include "block_codes.h"

#include <algorithm>
#include <cstring>

#include "huffman.h"

namespace lzx {

void clear_stats(block_stats &stats) { std::memset(&stats, 0, sizeof stats); }

void add_items(const item *items, size_t count, block_stats &stats) {
    for (size_t i = 0; i < count; i++) {
        const item &it = items[i];
        if (it.length == 1) {
            stats.main[it.literal]++;
            continue;
        }
        match_symbols m = symbols_of(it);
        stats.main[m.main]++;
        if (m.length >= 0) stats.length[m.length]++;
        uint32_t bits = footer_bits(m.slot);
        stats.verbatim_footer_bits += bits;
        if (bits >= 3) {
            stats.aligned[m.footer & 7]++;
            stats.aligned_plain_bits += bits - 3;
            stats.aligned_footers++;
        } else {
            stats.aligned_plain_bits += bits;
        }
    }
}

void build_block_lengths(const block_stats &stats, uint32_t main_symbols, block_codes &codes) {
    build_code_lengths(stats.main, main_symbols, main_max_code_length, codes.main_lengths);
    build_code_lengths(stats.length, num_length_symbols, length_max_code_length, codes.length_lengths);
    build_code_lengths(stats.aligned, num_aligned_symbols, aligned_max_code_length, codes.aligned_lengths);
}

void assign_block_codes(uint32_t main_symbols, block_codes &codes) {
    build_canonical_codes(codes.main_lengths, main_symbols, codes.main_codes);
    build_canonical_codes(codes.length_lengths, num_length_symbols, codes.length_codes);
    build_canonical_codes(codes.aligned_lengths, num_aligned_symbols, codes.aligned_codes);
}

namespace {

// Unused symbols: a bit dearer than the rarest used one, so that the next
// parse can still pick them when they save enough.
void prices_of(const uint8_t *lengths, uint32_t count, uint32_t limit, uint32_t empty_price, uint32_t *prices) {
    uint32_t longest = 0;
    for (uint32_t s = 0; s < count; s++) longest = std::max<uint32_t>(longest, lengths[s]);
    uint32_t unused = longest == 0 ? empty_price : std::min(limit, longest + 1);
    for (uint32_t s = 0; s < count; s++) prices[s] = lengths[s] ? lengths[s] : unused;
}

}  // namespace

void prices_from_codes(const block_codes &codes, uint32_t main_symbols, bool aligned_block, costs &prices) {
    prices_of(codes.main_lengths, main_symbols, main_max_code_length, 12, prices.main);
    for (uint32_t s = main_symbols; s < max_main_symbols; s++) prices.main[s] = main_max_code_length;
    prices_of(codes.length_lengths, num_length_symbols, length_max_code_length, 6, prices.length);
    prices_of(codes.aligned_lengths, num_aligned_symbols, aligned_max_code_length, 3, prices.aligned);
    prices.aligned_block = aligned_block;
}

}  // namespace lzx
