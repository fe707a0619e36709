// The one growth rule of the run's growable arrays.
#pragma once
#include <cstdint>

// The capacity an array of `count` elements must have before one more is
// appended: the next multiple of ten above count + 1, so that it grows by
// ten when the count reaches 9, 19, 29, ... and one element is always free.
inline constexpr uint64_t capacity_before_append(uint64_t count) { return (count + 1) / 10 * 10 + 10; }
