// wimlib's LZX compressor on a stream cut into frames, one call per frame,
// on the calling thread: the anchor the benchmarks measure ours against.
#ifndef BENCH_WIMLIB_FRAMES_H
#define BENCH_WIMLIB_FRAMES_H

#include <wimlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "frame_stream.h"

// Returns the compressed size; `seconds` gets the CPU time of the frames.
inline uint64_t wimlib_compress_frames(const std::vector<uint8_t> &stream, unsigned level, double &seconds) {
    wimlib_compressor *compressor = nullptr;
    if (wimlib_create_compressor(WIMLIB_COMPRESSION_TYPE_LZX, frame_size, level, &compressor) != 0) {
        fprintf(stderr, "wimlib_create_compressor failed\n");
        exit(1);
    }
    std::vector<uint8_t> out(frame_size);
    uint64_t total = 0;
    double start = cpu_seconds();
    for (size_t at = 0; at < stream.size(); at += frame_size) {
        size_t length = std::min(frame_size, stream.size() - at);
        size_t got = wimlib_compress(stream.data() + at, length, out.data(), out.size(), compressor);
        total += got ? got : frame_size;  // incompressible: stored whole
    }
    seconds = cpu_seconds() - start;
    wimlib_free_compressor(compressor);
    return total;
}

#endif
