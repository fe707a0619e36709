// Test support: compress a buffer through the C interface, wrap the stream in
// a minimal ITS container holding one file "/data", and read it back with
// libmspack in memory or with chmlib from a scratch file.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace lzx_test {

struct compressed_stream {
    int window_bits = 16;
    int reset_frames = 0;  // frames from one lzx_reset to the next; 0: a window's
    std::vector<uint8_t> bytes;
    std::vector<uint32_t> frame_ends_uncompressed;  // first value of every mark_frame call
    std::vector<uint32_t> frame_ends_compressed;    // second value: the reset points
    uint64_t compressed_length = 0;
    uint64_t uncompressed_length = 0;
};

struct compress_options {
    int window_bits = 16;
    int split_blocks = 1;
    int block_size = 0;        // bytes per lzx_compress_block call; 0: 2^window_bits
    int reset_frames = 0;      // lzx_reset every this many frames; 0: once a window
    // Stop calling lzx_compress_block once every byte was taken, before any
    // short read; lzx_finish then has to flush the last frame.
    bool stop_when_consumed = false;
};

// put_bytes and mark_frame callbacks that collect into a compressed_stream.
int keep_output(void *context, int n, void *buf);
void keep_frame_end(void *context, uint32_t uncompressed, uint32_t compressed);

// Runs lzx_init / lzx_compress_block until the input is used up / lzx_finish.
// Returns the first negative or nonzero result of those calls, else 0.
int compress_buffer(const uint8_t *data, size_t size, const compress_options &options, compressed_stream &out);

// The ITS file holding the stream as "/data" in the compressed section.
std::vector<uint8_t> wrap_in_its(const compressed_stream &stream);

// Extracts "/data" with libmspack; false with a reason on any failure.
bool decode_with_mspack(const std::vector<uint8_t> &its, std::vector<uint8_t> &out, std::string &error);

// The same with chmlib, which cannot read a 32 KiB window (window bits 15).
bool decode_with_chmlib(const std::vector<uint8_t> &its, std::vector<uint8_t> &out, std::string &error);

}  // namespace lzx_test
