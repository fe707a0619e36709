// Symbol counts of a run of items, the trees built from them, and the
// per-symbol prices those trees imply.
#pragma once
#include <cstddef>
#include <cstdint>

#include "lzx_format.h"

namespace lzx {

struct block_stats {
    uint32_t main[max_main_symbols];
    uint32_t length[num_length_symbols];
    uint32_t aligned[num_aligned_symbols];
    uint64_t verbatim_footer_bits;  // all footers as plain bits
    uint64_t aligned_plain_bits;    // footers' plain bits when the low 3 go through the aligned tree
    uint32_t aligned_footers;       // footers of 3+ bits
};

struct block_codes {
    uint8_t main_lengths[max_main_symbols];
    uint16_t main_codes[max_main_symbols];
    uint8_t length_lengths[num_length_symbols];
    uint16_t length_codes[num_length_symbols];
    uint8_t aligned_lengths[num_aligned_symbols];
    uint16_t aligned_codes[num_aligned_symbols];
    // Size in bits of the counted symbols of each tree under these lengths.
    uint64_t main_bits;
    uint64_t length_bits;
    uint64_t aligned_bits;
};

// Main symbol of a match, its length symbol (or -1) and its slot.
struct match_symbols {
    uint32_t main;
    int32_t length;
    uint32_t slot;
    uint32_t footer;
};

inline match_symbols symbols_of(const item &it) {
    uint32_t slot = slot_of(it.offset_code);
    uint32_t length_header = it.length - min_match;
    match_symbols m;
    m.slot = slot;
    m.main = num_chars + 8 * slot + (length_header < num_primary_lengths ? length_header : num_primary_lengths);
    m.length = length_header >= num_primary_lengths ? int32_t(length_header - num_primary_lengths) : -1;
    m.footer = slot < 3 ? 0 : it.offset_code - slot_bases.base[slot];
    return m;
}

void clear_stats(block_stats &stats);
void add_items(const item *items, size_t count, block_stats &stats);
// Adds items from the first until they cover at least min_bytes bytes, or
// all of them; returns how many it added, and their bytes in `bytes`.
size_t add_items_covering(const item *items, size_t count, uint32_t min_bytes, block_stats &stats, uint32_t &bytes);

// Code lengths of the trees for a block with these counts (main tree over
// main_symbols); enough for sizes and prices.
void build_block_lengths(const block_stats &stats, uint32_t main_symbols, block_codes &codes);
// The canonical codes of those lengths, for writing.
void assign_block_codes(uint32_t main_symbols, block_codes &codes);

// Prices for the next parse: each used symbol's information content, and
// for unused ones a guess from the code lengths.
void prices_from_stats(const block_stats &stats, const block_codes &codes, uint32_t main_symbols, bool aligned_block,
                       costs &prices);

}  // namespace lzx
