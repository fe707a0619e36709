#include "block_codes.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "huffman.h"

namespace lzx {

void clear_stats(block_stats &stats) { std::memset(&stats, 0, sizeof stats); }

namespace {

// Adds items until they cover `min_bytes` bytes (all of them when `bounded`
// is false); returns how many it took and the bytes they cover in `bytes`.
template <bool bounded>
size_t add_items_while(const item *items, size_t count, uint32_t min_bytes, block_stats &stats, uint32_t &bytes) {
    uint64_t footer_bits_total = 0;
    uint32_t aligned_footers = 0, covered = 0;
    size_t i = 0;
    while (i < count) {
        const item &it = items[i++];
        if (bounded) covered += it.length;
        if (it.length == 1) {
            stats.main[it.literal]++;
        } else {
            match_symbols m = symbols_of(it);
            stats.main[m.main]++;
            if (m.length >= 0) stats.length[m.length]++;
            const uint32_t bits = footer_bits(m.slot);
            footer_bits_total += bits;
            if (bits >= 3) {
                stats.aligned[m.footer & 7]++;
                aligned_footers++;
            }
        }
        if (bounded && covered >= min_bytes) break;
    }
    stats.verbatim_footer_bits += footer_bits_total;
    // The low 3 bits of every long footer go through the aligned tree.
    stats.aligned_plain_bits += footer_bits_total - 3 * uint64_t(aligned_footers);
    stats.aligned_footers += aligned_footers;
    bytes = covered;
    return i;
}

}  // namespace

void add_items(const item *items, size_t count, block_stats &stats) {
    uint32_t unused;
    add_items_while<false>(items, count, 0, stats, unused);
}

size_t add_items_covering(const item *items, size_t count, uint32_t min_bytes, block_stats &stats, uint32_t &bytes) {
    return add_items_while<true>(items, count, min_bytes, stats, bytes);
}

void build_block_lengths(const block_stats &stats, uint32_t main_symbols, block_codes &codes) {
    codes.main_bits = build_code_lengths(stats.main, main_symbols, main_max_code_length, codes.main_lengths);
    codes.length_bits =
        build_code_lengths(stats.length, num_length_symbols, length_max_code_length, codes.length_lengths);
    codes.aligned_bits =
        build_code_lengths(stats.aligned, num_aligned_symbols, aligned_max_code_length, codes.aligned_lengths);
}

void assign_block_codes(uint32_t main_symbols, block_codes &codes) {
    build_canonical_codes(codes.main_lengths, main_symbols, codes.main_codes);
    build_canonical_codes(codes.length_lengths, num_length_symbols, codes.length_codes);
    build_canonical_codes(codes.aligned_lengths, num_aligned_symbols, codes.aligned_codes);
}

namespace {

// log2 of the counts most symbols have, worked out once.
struct small_log2 {
    double value[1024];
    small_log2() {
        for (uint32_t n = 0; n < 1024; n++) value[n] = std::log2(double(n));
    }
    double operator()(uint32_t n) const { return n < 1024 ? value[n] : std::log2(double(n)); }
};

// Used symbols: log2(total / count), the cost an ideal code would give
// them, no less than one bit and no more than the longest code. Unused
// symbols: a bit dearer than the rarest used one, so that the next parse can
// still pick them when they save enough.
void prices_of(const uint32_t *counts, const uint8_t *lengths, uint32_t count, uint32_t limit, uint32_t empty_price,
               uint32_t *prices) {
    uint32_t longest = 0;
    uint64_t total = 0;
    for (uint32_t s = 0; s < count; s++) {
        longest = std::max<uint32_t>(longest, lengths[s]);
        total += counts[s];
    }
    const uint32_t unused = (longest == 0 ? empty_price : std::min(limit, longest + 1)) * price_scale;
    static const small_log2 log2_of;
    const double log_total = std::log2(double(total));
    for (uint32_t s = 0; s < count; s++) {
        if (counts[s] == 0) {
            prices[s] = unused;
            continue;
        }
        double bits = std::clamp(log_total - log2_of(counts[s]), 1.0, double(limit));
        prices[s] = uint32_t(bits * price_scale + 0.5);
    }
}

}  // namespace

void prices_from_stats(const block_stats &stats, const block_codes &codes, uint32_t main_symbols, bool aligned_block,
                       costs &prices) {
    prices_of(stats.main, codes.main_lengths, main_symbols, main_max_code_length, 12, prices.main);
    for (uint32_t s = main_symbols; s < max_main_symbols; s++) prices.main[s] = main_max_code_length * price_scale;
    prices_of(stats.length, codes.length_lengths, num_length_symbols, length_max_code_length, 6, prices.length);
    prices_of(stats.aligned, codes.aligned_lengths, num_aligned_symbols, aligned_max_code_length, 3, prices.aligned);
    prices.aligned_block = aligned_block;
}

}  // namespace lzx
