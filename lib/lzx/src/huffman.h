// Length-limited canonical Huffman codes as the LZX trees need them.
#pragma once
#include <cstdint>

namespace lzx {

inline constexpr uint32_t max_huffman_symbols = 656;  // the largest tree: main, 50 slots

// Code lengths for freqs[0..count) of at most max_length bits. When any
// symbol is used the code is complete (Kraft sum exactly 1): a single used
// symbol gets a partner of length 1. Unused symbols get length 0. Returns
// the size in bits of the counted symbols under that code.
uint64_t build_code_lengths(const uint32_t *freqs, uint32_t count, uint32_t max_length, uint8_t *lengths);

// Canonical codes: shorter codes first, equal lengths in symbol order.
void build_canonical_codes(const uint8_t *lengths, uint32_t count, uint16_t *codes);

}  // namespace lzx
