// wimlib's LZX compressor on a stream cut into reset units, one call per
// unit, on the calling thread: the anchor the benchmarks measure ours against.
#ifndef BENCH_WIMLIB_UNITS_H
#define BENCH_WIMLIB_UNITS_H

#include <wimlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "frame_stream.h"

// Returns the compressed size; `seconds` gets the CPU time of the units.
// Created for blocks of a whole unit, wimlib takes a window of that size.
inline uint64_t wimlib_compress_units(const std::vector<uint8_t> &stream, unsigned level, double &seconds) {
    wimlib_compressor *compressor = nullptr;
    if (wimlib_create_compressor(WIMLIB_COMPRESSION_TYPE_LZX, unit_size, level, &compressor) != 0) {
        fprintf(stderr, "wimlib_create_compressor failed\n");
        exit(1);
    }
    std::vector<uint8_t> out(unit_size);
    uint64_t total = 0;
    double start = cpu_seconds();
    for (size_t at = 0; at < stream.size(); at += unit_size) {
        size_t length = std::min(unit_size, stream.size() - at);
        size_t got = wimlib_compress(stream.data() + at, length, out.data(), out.size(), compressor);
        total += got ? got : length;  // incompressible: stored whole
    }
    seconds = cpu_seconds() - start;
    wimlib_free_compressor(compressor);
    return total;
}

#endif
