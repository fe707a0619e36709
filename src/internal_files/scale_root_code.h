// The integer code of the full-text index's location lists: scale 2 and a
// root r, the only scale the viewers accept. A value below 2^r is a 0 bit
// and r bits; a larger one with its highest set bit n is (n - r + 1) one
// bits, a 0 bit, and its n low bits; bits most significant first.
#pragma once
#include <array>
#include <cstdint>

#include "internal_files/byte_output.h"

// Bits the code of value takes with root r.
inline uint32_t scale_root_bits(uint32_t value, uint32_t root) {
    if (value < (uint64_t{1} << root)) return 1 + root;
    uint32_t top = 31 - static_cast<uint32_t>(__builtin_clz(value));
    return 2 * top - root + 2;
}

// How many values of a stream have each length: enough to price every
// root without keeping the values.
struct value_spread {
    std::array<uint64_t, 33> by_length{};  // [0]: zeros; [k]: values whose highest set bit is k - 1
    void add(uint32_t value) { by_length[value ? 32 - __builtin_clz(value) : 0]++; }
};

// Total bits of the stream coded with root r.
uint64_t stream_bits(const value_spread &spread, uint32_t root);
// The root that codes the stream in the fewest bits (the smallest of equals).
uint32_t best_root(const value_spread &spread);

// Writes bits most significant first into bytes.
struct bit_output {
    byte_vector bytes;
    uint32_t used = 8;  // bits used of the last byte
    void put(uint32_t value, uint32_t count);
    void put_code(uint32_t value, uint32_t root);
    // Zero bits up to the next byte.
    void align() { used = 8; }
};
