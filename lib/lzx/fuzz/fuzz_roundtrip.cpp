// Compresses the input and reads it back with libmspack; any difference,
// failure or inconsistent bookkeeping aborts. The first byte picks the
// window size, the split flag and the request size.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "its_wrapper.h"

namespace {

[[noreturn]] void fail(const char *what, const std::string &detail = {}) {
    std::fprintf(stderr, "fuzz_roundtrip: %s %s\n", what, detail.c_str());
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) return 0;
    uint8_t choice = data[0];
    const uint8_t *input = data + 1;
    size_t input_size = size - 1;

    lzx_test::compress_options options;
    options.window_bits = 15 + choice % 7;
    options.split_blocks = (choice >> 3) & 1;
    if (choice & 0x10) options.block_size = 1 + 977 * (choice >> 5);  // frames fill over several calls
    options.stop_when_consumed = (choice & 0x20) != 0;

    lzx_test::compressed_stream stream;
    if (lzx_test::compress_buffer(input, input_size, options, stream) != 0) fail("compression failed");
    if (stream.uncompressed_length != input_size) fail("wrong uncompressed length");
    if (stream.compressed_length != stream.bytes.size()) fail("wrong compressed length");
    size_t frames = (input_size + 32767) / 32768;
    if (stream.frame_ends_compressed.size() != frames) fail("wrong frame count");
    if (input_size == 0) {
        if (!stream.bytes.empty()) fail("output for empty input");
        return 0;
    }

    std::vector<uint8_t> its = lzx_test::wrap_in_its(stream), out;
    std::string error;
    if (!lzx_test::decode_with_mspack(its, out, error)) fail("libmspack failed:", error);
    if (out.size() != input_size || std::memcmp(out.data(), input, input_size) != 0) fail("round trip differs");
    return 0;
}
