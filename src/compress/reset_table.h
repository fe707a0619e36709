// The reset points reported by the compressor, in order.
#pragma once
#include <cstdint>

struct reset_table {
    uint64_t *values;
    uint64_t count;
    uint64_t capacity;
};
