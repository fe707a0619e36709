#include "code_lengths_writer.h"

#include <cstring>

#include "lzx_format.h"

namespace lzx {

namespace {

// Run codes: 17 sets 4..19 lengths to 0, 18 sets 20..51 to 0, 19 sets 4..5
// lengths to one value.
constexpr uint32_t zeros_short = 17, zeros_long = 18, same_run = 19;
constexpr uint32_t flat_price = 5;

uint32_t delta_symbol(uint32_t previous, uint32_t length) {
    int d = int(previous) - int(length);
    return uint32_t(d < 0 ? d + 17 : d);
}

// An op packed into a word: symbol, extra bits, extra, run symbol from the low byte up.
constexpr uint32_t packed_op(uint32_t symbol, uint32_t extra_bits, uint32_t extra, uint32_t run_symbol) {
    return symbol | extra_bits << 8 | extra << 16 | run_symbol << 24;
}

// Lengths an op sets.
uint32_t op_span(const pretree_op &op) {
    switch (op.symbol) {
        case zeros_short:
        case same_run: return 4u + op.extra;
        case zeros_long: return 20u + op.extra;
        default: return 1;
    }
}

// Cheapest ops under the given pretree prices, by a DP from the end; counts
// the pretree symbols they use and sums their extra bits.
void cheapest_ops(const uint8_t *previous, const uint8_t *lengths, uint32_t count, const uint32_t *price,
                  length_segment &segment, uint32_t *freqs, uint32_t &extra_bits) {
    uint32_t best[max_huffman_symbols + 1];
    uint32_t choice[max_huffman_symbols];
    best[count] = 0;
    uint32_t same_len_run = 0, next_length = UINT32_MAX;
    for (uint32_t i = count; i-- > 0;) {
        const uint32_t length = lengths[i];
        same_len_run = length == next_length ? same_len_run + 1 : 1;
        next_length = length;
        const uint32_t d = delta_symbol(previous[i], length);
        uint32_t cost = price[d] + best[i + 1];
        uint32_t op = d;
        // Every run code needs 4 equal lengths.
        if (same_len_run >= 4) {
            // Zero runs: each code takes as much of the run as it can; the
            // DP at the following positions covers the other ways to cut it.
            if (length == 0) {
                uint32_t k = same_len_run < 19 ? same_len_run : 19;
                uint32_t c = price[zeros_short] + 4 + best[i + k];
                if (c < cost) {
                    cost = c;
                    op = packed_op(zeros_short, 4, k - 4, 0);
                }
                if (same_len_run >= 20) {
                    k = same_len_run < 51 ? same_len_run : 51;
                    c = price[zeros_long] + 5 + best[i + k];
                    if (c < cost) {
                        cost = c;
                        op = packed_op(zeros_long, 5, k - 20, 0);
                    }
                }
            }
            const uint32_t head = price[same_run] + 1 + price[d];
            for (uint32_t k = 4; k <= 5 && k <= same_len_run; k++) {
                uint32_t c = head + best[i + k];
                if (c < cost) {
                    cost = c;
                    op = packed_op(same_run, 1, k - 4, d);
                }
            }
        }
        best[i] = cost;
        choice[i] = op;
    }
    std::memset(freqs, 0, sizeof(uint32_t) * pretree_symbols);
    extra_bits = 0;
    uint32_t n = 0;
    for (uint32_t i = 0; i < count;) {
        const uint32_t c = choice[i];
        const pretree_op op{uint8_t(c), uint8_t(c >> 8), uint8_t(c >> 16), uint8_t(c >> 24)};
        segment.ops[n++] = op;
        freqs[op.symbol]++;
        if (op.symbol == same_run) freqs[op.run_symbol]++;
        extra_bits += op.extra_bits;
        i += op_span(op);
    }
    segment.op_count = n;
}

// One round: the cheapest ops under `price`, the pretree they call for and
// the exact size that gives.
void plan_round(const uint8_t *previous, const uint8_t *new_lengths, uint32_t count, const uint32_t *price,
                length_segment &trial) {
    uint32_t freqs[pretree_symbols];
    uint32_t extra_bits;
    cheapest_ops(previous, new_lengths, count, price, trial, freqs, extra_bits);
    build_code_lengths(freqs, pretree_symbols, pretree_max_code_length, trial.pretree_lengths);
    trial.bits = 4 * pretree_symbols + extra_bits;
    for (uint32_t s = 0; s < pretree_symbols; s++) trial.bits += freqs[s] * trial.pretree_lengths[s];
}

void keep(const length_segment &trial, length_segment &segment) {
    std::memcpy(segment.pretree_lengths, trial.pretree_lengths, pretree_symbols);
    std::memcpy(segment.ops, trial.ops, sizeof(pretree_op) * trial.op_count);
    segment.op_count = trial.op_count;
    segment.bits = trial.bits;
}

}  // namespace

void plan_length_segment(const uint8_t *previous, const uint8_t *new_lengths, uint32_t count,
                         length_segment &segment, int rounds) {
    // Start from flat prices, then let the pretree built from each coding
    // price the next one; keep the smallest exact result.
    uint32_t price[pretree_symbols];
    for (uint32_t s = 0; s < pretree_symbols; s++) price[s] = flat_price;
    plan_round(previous, new_lengths, count, price, segment);
    refine_length_segment(previous, new_lengths, count, segment, rounds - 1);
}

void refine_length_segment(const uint8_t *previous, const uint8_t *new_lengths, uint32_t count,
                           length_segment &segment, int more_rounds) {
    length_segment trial;
    for (int round = 0; round < more_rounds; round++) {
        // A symbol missing from the pretree may still be the only way to
        // code some element: give it a high but finite price.
        uint32_t price[pretree_symbols];
        for (uint32_t s = 0; s < pretree_symbols; s++)
            price[s] = segment.pretree_lengths[s] ? segment.pretree_lengths[s] : pretree_max_code_length + 2;
        plan_round(previous, new_lengths, count, price, trial);
        if (trial.bits >= segment.bits) break;
        // The same pretree again would price the next round the same way
        // and find nothing smaller.
        bool same_pretree = std::memcmp(trial.pretree_lengths, segment.pretree_lengths, pretree_symbols) == 0;
        keep(trial, segment);
        if (same_pretree) break;
    }
}

void write_length_segment(const length_segment &segment, bit_writer &out) {
    uint16_t codes[pretree_symbols];
    build_canonical_codes(segment.pretree_lengths, pretree_symbols, codes);
    for (uint32_t s = 0; s < pretree_symbols; s++) out.put(segment.pretree_lengths[s], 4);
    for (uint32_t i = 0; i < segment.op_count; i++) {
        const pretree_op &op = segment.ops[i];
        out.put(codes[op.symbol], segment.pretree_lengths[op.symbol]);
        if (op.extra_bits) out.put(op.extra, op.extra_bits);
        if (op.symbol == same_run) out.put(codes[op.run_symbol], segment.pretree_lengths[op.run_symbol]);
    }
}

}  // namespace lzx
