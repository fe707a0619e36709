// Writes a tree's code lengths as one pretree segment: 20 pretree lengths,
// then pretree symbols that turn the previous lengths into the new ones.
#pragma once
#include <cstdint>

#include "bit_writer.h"
#include "huffman.h"

namespace lzx {

inline constexpr uint32_t pretree_symbols = 20;

// One pretree symbol with what follows it: extra bits (runs 17, 18, 19) and,
// for run 19, the delta symbol of the run's value.
struct pretree_op {
    uint8_t symbol;
    uint8_t extra_bits;
    uint8_t extra;
    uint8_t run_symbol;
};

// A segment ready to be written, with its exact size.
struct length_segment {
    uint8_t pretree_lengths[pretree_symbols];
    pretree_op ops[max_huffman_symbols];
    uint32_t op_count;
    uint32_t bits;
};

// Finds a cheap run coding of new_lengths[0..count) against previous[0..count)
// and the pretree that goes with it, refining the pretree up to `rounds` times.
void plan_length_segment(const uint8_t *previous, const uint8_t *new_lengths, uint32_t count,
                         length_segment &segment, int rounds = 3);
// Continues a segment planned with fewer rounds for `more_rounds` rounds:
// the same as having planned it with that many more at once.
void refine_length_segment(const uint8_t *previous, const uint8_t *new_lengths, uint32_t count,
                           length_segment &segment, int more_rounds);

void write_length_segment(const length_segment &segment, bit_writer &out);

}  // namespace lzx
