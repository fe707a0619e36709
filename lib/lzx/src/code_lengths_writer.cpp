#include "code_lengths_writer.h"

#include <cstring>

#include "lzx_format.h"

namespace lzx {

namespace {

// Run codes: 17 sets 4..19 lengths to 0, 18 sets 20..51 to 0, 19 sets 4..5
// lengths to one value.
constexpr uint32_t zeros_short = 17, zeros_long = 18, same_run = 19;
constexpr uint32_t unusable_price = 1u << 20;

uint8_t delta_symbol(uint8_t previous, uint8_t length) { return uint8_t((previous + 17 - length) % 17); }

// Cheapest ops under the given pretree prices, by a DP from the end.
void cheapest_ops(const uint8_t *previous, const uint8_t *lengths, uint32_t count, const uint32_t *price,
                  length_segment &segment) {
    uint32_t best[max_huffman_symbols + 1];
    pretree_op choice[max_huffman_symbols];
    uint16_t advance[max_huffman_symbols];
    uint16_t zero_run[max_huffman_symbols + 1];
    uint16_t same_len_run[max_huffman_symbols + 1];
    zero_run[count] = 0;
    same_len_run[count] = 0;
    best[count] = 0;
    for (uint32_t i = count; i-- > 0;) {
        zero_run[i] = lengths[i] == 0 ? zero_run[i + 1] + 1 : 0;
        same_len_run[i] = (i + 1 < count && lengths[i + 1] == lengths[i]) ? same_len_run[i + 1] + 1 : 1;

        uint8_t d = delta_symbol(previous[i], lengths[i]);
        uint32_t cost = price[d] + best[i + 1];
        pretree_op op{d, 0, 0, 0};
        uint32_t step = 1;
        // Zero runs: each code takes as much of the run as it can; the DP
        // at the following positions covers the other ways to cut it.
        if (zero_run[i] >= 4) {
            uint32_t k = zero_run[i] < 19 ? zero_run[i] : 19;
            uint32_t c = price[zeros_short] + 4 + best[i + k];
            if (c < cost) {
                cost = c;
                op = {uint8_t(zeros_short), 4, uint8_t(k - 4), 0};
                step = k;
            }
        }
        if (zero_run[i] >= 20) {
            uint32_t k = zero_run[i] < 51 ? zero_run[i] : 51;
            uint32_t c = price[zeros_long] + 5 + best[i + k];
            if (c < cost) {
                cost = c;
                op = {uint8_t(zeros_long), 5, uint8_t(k - 20), 0};
                step = k;
            }
        }
        for (uint32_t k = 4; k <= 5 && k <= same_len_run[i]; k++) {
            uint32_t c = price[same_run] + 1 + price[d] + best[i + k];
            if (c < cost) {
                cost = c;
                op = {uint8_t(same_run), 1, uint8_t(k - 4), d};
                step = k;
            }
        }
        best[i] = cost;
        choice[i] = op;
        advance[i] = uint16_t(step);
    }
    segment.op_count = 0;
    for (uint32_t i = 0; i < count; i += advance[i]) segment.ops[segment.op_count++] = choice[i];
}

void count_symbols(const length_segment &segment, uint32_t *freqs) {
    std::memset(freqs, 0, sizeof(uint32_t) * pretree_symbols);
    for (uint32_t i = 0; i < segment.op_count; i++) {
        const pretree_op &op = segment.ops[i];
        freqs[op.symbol]++;
        if (op.symbol == same_run) freqs[op.run_symbol]++;
    }
}

uint32_t segment_bits(const length_segment &segment, const uint8_t *pretree_lengths) {
    uint32_t bits = 4 * pretree_symbols;
    for (uint32_t i = 0; i < segment.op_count; i++) {
        const pretree_op &op = segment.ops[i];
        bits += pretree_lengths[op.symbol] + op.extra_bits;
        if (op.symbol == same_run) bits += pretree_lengths[op.run_symbol];
    }
    return bits;
}

}  // namespace

void plan_length_segment(const uint8_t *previous, const uint8_t *new_lengths, uint32_t count,
                         length_segment &segment, int rounds) {
    // Start from flat prices, then let the pretree built from each coding
    // price the next one; keep the smallest exact result.
    uint32_t price[pretree_symbols];
    for (uint32_t s = 0; s < pretree_symbols; s++) price[s] = 5;
    length_segment trial;
    segment.bits = UINT32_MAX;
    for (int round = 0; round < rounds; round++) {
        cheapest_ops(previous, new_lengths, count, price, trial);
        uint32_t freqs[pretree_symbols];
        count_symbols(trial, freqs);
        build_code_lengths(freqs, pretree_symbols, pretree_max_code_length, trial.pretree_lengths);
        trial.bits = segment_bits(trial, trial.pretree_lengths);
        if (trial.bits < segment.bits) {
            segment = trial;
        } else {
            break;
        }
        for (uint32_t s = 0; s < pretree_symbols; s++)
            price[s] = trial.pretree_lengths[s] ? trial.pretree_lengths[s] : unusable_price;
        // A symbol missing from this pretree may still be the only way to
        // code some element: give it a high but finite price.
        for (uint32_t s = 0; s < pretree_symbols; s++)
            if (price[s] == unusable_price) price[s] = pretree_max_code_length + 2;
    }
    build_canonical_codes(segment.pretree_lengths, pretree_symbols, segment.pretree_codes);
}

void write_length_segment(const length_segment &segment, bit_writer &out) {
    for (uint32_t s = 0; s < pretree_symbols; s++) out.put(segment.pretree_lengths[s], 4);
    for (uint32_t i = 0; i < segment.op_count; i++) {
        const pretree_op &op = segment.ops[i];
        out.put(segment.pretree_codes[op.symbol], segment.pretree_lengths[op.symbol]);
        if (op.extra_bits) out.put(op.extra, op.extra_bits);
        if (op.symbol == same_run) out.put(segment.pretree_codes[op.run_symbol], segment.pretree_lengths[op.run_symbol]);
    }
}

}  // namespace lzx
