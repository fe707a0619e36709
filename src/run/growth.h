// The growth rule of the run's growable arrays.
#pragma once
#include <cstdint>

// The capacity an array of `count` elements must have before one more is
// appended: the next multiple of ten above count + 1, so that it grows when
// the count reaches 9, 19, 29, ... and one element is always free.
inline constexpr uint64_t capacity_before_append(uint64_t count) { return (count + 1) / 10 * 10 + 10; }

// The capacity to grow to when `capacity` is below capacity_before_append:
// that, or half as much again as `capacity` rounded up to ten, whichever is
// more (10, 20, 30, 50, 80, 120, ...). Steps of a fixed ten made a million
// appends copy the array a hundred thousand times wherever realloc cannot
// grow in place (most allocators, sanitizers): quadratic in the count.
inline constexpr uint64_t grown_capacity(uint64_t count, uint64_t capacity) {
    uint64_t need = capacity_before_append(count);
    uint64_t half_again = (capacity + capacity / 2 + 9) / 10 * 10;
    return need > half_again ? need : half_again;
}
