#include "internal_files/scale_root_code.h"

uint64_t stream_bits(const value_spread &spread, uint32_t root) {
    uint64_t bits = 0;
    for (uint32_t length = 0; length <= 32; length++) {
        if (!spread.by_length[length]) continue;
        // The largest value of this length costs what all of them cost.
        uint32_t sample = length == 0 ? 0 : static_cast<uint32_t>((uint64_t{1} << length) - 1);
        bits += spread.by_length[length] * scale_root_bits(sample, root);
    }
    return bits;
}

uint32_t best_root(const value_spread &spread) {
    uint32_t best = 0;
    for (uint32_t root = 1; root <= 31; root++) {
        if (stream_bits(spread, root) < stream_bits(spread, best)) best = root;
    }
    return best;
}

void bit_output::put(uint32_t value, uint32_t count) {
    while (count > 0) {
        if (used == 8) {
            bytes.push_back(0);
            used = 0;
        }
        uint32_t take = count < 8 - used ? count : 8 - used;
        uint32_t part = (value >> (count - take)) & ((1u << take) - 1);
        bytes.back() = static_cast<uint8_t>(bytes.back() | part << (8 - used - take));
        used += take;
        count -= take;
    }
}

void bit_output::put_code(uint32_t value, uint32_t root) {
    if (value < (uint64_t{1} << root)) {
        put(0, 1);
        put(value, root);
        return;
    }
    uint32_t top = 31 - static_cast<uint32_t>(__builtin_clz(value));
    for (uint32_t i = 0; i < top - root + 1; i++) put(1, 1);
    put(0, 1);
    put(value, top);  // the n low bits: the top bit is implied
}
