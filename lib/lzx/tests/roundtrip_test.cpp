// Whole streams through the C interface, read back by libmspack, chmlib and
// 7-Zip.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <thread>

#include "its_wrapper.h"
#include "lzxcomp.h"
#include "sevenzip.h"
#include "test_inputs.h"

namespace {

using namespace lzx_test;

// Frame bookkeeping that the container relies on.
void expect_consistent(const compressed_stream &s, size_t input_size) {
    EXPECT_EQ(s.uncompressed_length, input_size);
    EXPECT_EQ(s.compressed_length, s.bytes.size());
    size_t frames = (input_size + 32767) / 32768;
    ASSERT_EQ(s.frame_ends_compressed.size(), frames);
    ASSERT_EQ(s.frame_ends_uncompressed.size(), frames);
    uint32_t previous = 0;
    for (size_t i = 0; i < frames; i++) {
        EXPECT_EQ(s.frame_ends_uncompressed[i], (i + 1) * 32768);
        EXPECT_GT(s.frame_ends_compressed[i], previous);
        EXPECT_EQ(s.frame_ends_compressed[i] % 2, 0u);
        previous = s.frame_ends_compressed[i];
    }
    // A stream of whole frames is followed by what a decoder reads ahead:
    // two bytes where a reset comes next, else a frame continuing the unit.
    if (frames && input_size % 32768 == 0) {
        const size_t unit = s.reset_frames ? size_t(s.reset_frames) : size_t(1) << (s.window_bits - 15);
        if (frames % unit == 0)
            EXPECT_EQ(previous + 2, s.bytes.size());
        else
            EXPECT_GT(s.bytes.size(), previous + 2);
    } else if (frames) {
        EXPECT_EQ(previous, s.bytes.size());
    }
}

void expect_round_trip(const std::vector<uint8_t> &input, const compress_options &options = {},
                       bool with_7zip = true) {
    compressed_stream s;
    ASSERT_EQ(compress_buffer(input.data(), input.size(), options, s), 0);
    expect_consistent(s, input.size());
    std::vector<uint8_t> its = wrap_in_its(s), out;
    std::string error;
    ASSERT_TRUE(decode_with_mspack(its, out, error)) << error;
    ASSERT_EQ(out.size(), input.size());
    EXPECT_TRUE(out == input) << "libmspack output differs";
    if (options.window_bits >= 16) {
        ASSERT_TRUE(decode_with_chmlib(its, out, error)) << error;
        ASSERT_EQ(out.size(), input.size());
        EXPECT_TRUE(out == input) << "chmlib output differs";
    }
    if (with_7zip) {
        ASSERT_TRUE(decode_with_7zip(its, out, error)) << error;
        ASSERT_EQ(out.size(), input.size());
        EXPECT_TRUE(out == input) << "7-Zip output differs";
    }
}

TEST(round_trip, empty_input_emits_nothing) {
    compressed_stream s;
    ASSERT_EQ(compress_buffer(nullptr, 0, {}, s), 0);
    EXPECT_TRUE(s.bytes.empty());
    EXPECT_TRUE(s.frame_ends_compressed.empty());
    EXPECT_EQ(s.compressed_length, 0u);
    EXPECT_EQ(s.uncompressed_length, 0u);
}

TEST(round_trip, sizes_around_a_frame) {
    for (int window_bits : {15, 16}) {
        for (size_t size : {1, 2, 32767, 32768, 32769, 65536, 65536 + 5, 98304}) {
            SCOPED_TRACE(testing::Message() << size << " bytes, window bits " << window_bits);
            expect_round_trip(text_bytes(size, uint32_t(size)), {.window_bits = window_bits});
        }
    }
}

TEST(round_trip, whole_frames_of_every_kind) {
    expect_round_trip(std::vector<uint8_t>(65536, 0));
    expect_round_trip(random_bytes(65536, 12));
    expect_round_trip(text_bytes(32768 * 3, 13));
}

TEST(round_trip, zeros_and_long_runs) {
    expect_round_trip(std::vector<uint8_t>(100000, 0));
    std::vector<uint8_t> runs;
    for (int i = 0; i < 300; i++) runs.insert(runs.end(), size_t(1 + i * 7 % 600), uint8_t('a' + i % 5));
    expect_round_trip(runs);
}

TEST(round_trip, random_bytes_stay_near_their_size) {
    auto input = random_bytes(100000, 7);
    compressed_stream s;
    ASSERT_EQ(compress_buffer(input.data(), input.size(), {}, s), 0);
    // Four frames; incompressible data goes out raw with a few bytes of framing.
    EXPECT_LE(s.bytes.size(), 4 * (32768 + 32));
    expect_round_trip(input);
}

TEST(round_trip, text_compresses) {
    auto input = text_bytes(200000, 1);
    compressed_stream s;
    ASSERT_EQ(compress_buffer(input.data(), input.size(), {}, s), 0);
    EXPECT_LT(s.bytes.size(), input.size() / 3);
    expect_round_trip(input);
}

TEST(round_trip, far_matches_and_repeat_offsets) {
    // A piece of the frame start again right at the end of the window.
    auto input = random_bytes(32768, 3);
    std::memcpy(&input[32765], &input[0], 3);
    expect_round_trip(input);
    // Two interleaved distances: the repeat offsets swap back and forth.
    auto pattern = random_bytes(40000, 4);
    for (size_t i = 3000; i < pattern.size(); i++) pattern[i] = pattern[i - (i % 50 < 25 ? 1000 : 2999)];
    expect_round_trip(pattern);
}

TEST(round_trip, mixed_data_with_and_without_block_splits) {
    std::vector<uint8_t> input = text_bytes(20000, 5);
    auto noise = random_bytes(12000, 6);
    input.insert(input.end(), noise.begin(), noise.end());
    auto more = text_bytes(30000, 8);
    input.insert(input.end(), more.begin(), more.end());
    for (int flag : {0, 1}) {
        SCOPED_TRACE(flag);
        compress_options options;
        options.split_blocks = flag;
        expect_round_trip(input, options);
    }
}

TEST(round_trip, splitting_pays_on_a_frame_of_two_kinds) {
    // Text, then noise, then text again within each frame: one code for all
    // of it is worse than a block per kind.
    std::vector<uint8_t> input;
    for (int frame = 0; frame < 2; frame++) {
        auto text = text_bytes(12000, 20 + frame);
        auto noise = random_bytes(8768, 30 + frame);
        auto tail = text_bytes(12000, 40 + frame);
        input.insert(input.end(), text.begin(), text.end());
        input.insert(input.end(), noise.begin(), noise.end());
        input.insert(input.end(), tail.begin(), tail.end());
    }
    compressed_stream whole, split;
    compress_options options;
    options.split_blocks = 0;
    ASSERT_EQ(compress_buffer(input.data(), input.size(), options, whole), 0);
    options.split_blocks = 1;
    ASSERT_EQ(compress_buffer(input.data(), input.size(), options, split), 0);
    EXPECT_LT(split.bytes.size(), whole.bytes.size());
    expect_round_trip(input, options);
}

TEST(round_trip, frames_ending_in_an_odd_stretch_of_noise) {
    // Noise of odd length at the end of a frame, followed by another frame:
    // a decoder that loses the byte after an odd uncompressed block misreads
    // the next frame.
    std::vector<uint8_t> input;
    for (int frame = 0; frame < 3; frame++) {
        auto text = text_bytes(20001, 60 + frame);
        auto noise = random_bytes(12767, 70 + frame);
        input.insert(input.end(), text.begin(), text.end());
        input.insert(input.end(), noise.begin(), noise.end());
    }
    expect_round_trip(input);
    // The same noise in the middle of a frame.
    std::vector<uint8_t> middle = text_bytes(10001, 80);
    auto noise = random_bytes(12767, 81);
    middle.insert(middle.end(), noise.begin(), noise.end());
    auto tail = text_bytes(30000, 82);
    middle.insert(middle.end(), tail.begin(), tail.end());
    expect_round_trip(middle);
    std::vector<uint8_t> mixed;
    for (uint32_t i = 0; i < 4; i++) {
        auto piece = i % 3 ? text_bytes(32768 + 777 * i, i) : random_bytes(16384 + i, i);
        mixed.insert(mixed.end(), piece.begin(), piece.end());
    }
    expect_round_trip(std::vector<uint8_t>(mixed.begin() + 65536, mixed.end()));
}

TEST(round_trip, streams_end_where_the_callers_reset_unit_says) {
    // A reset every two 32 KiB windows: input ending inside a unit is
    // followed by a frame that continues it, as the decoder expects.
    for (size_t frames : {1, 2, 3}) {
        SCOPED_TRACE(frames);
        expect_round_trip(text_bytes(32768 * frames, 14), {.window_bits = 15, .reset_frames = 2});
    }
}

TEST(round_trip, every_window_size) {
    auto input = text_bytes(80000, 9);
    for (int bits = 15; bits <= 21; bits++) {
        SCOPED_TRACE(bits);
        compress_options options;
        options.window_bits = bits;
        expect_round_trip(input, options);
    }
}

TEST(round_trip, odd_request_sizes) {
    auto input = text_bytes(70001, 10);
    for (int block : {1, 1000, 4097, 65535}) {
        SCOPED_TRACE(block);
        compress_options options;
        options.block_size = block;
        expect_round_trip(input, options, false);
        // Stopping before any short read leaves the last frame to lzx_finish.
        options.stop_when_consumed = true;
        expect_round_trip(input, options, false);
    }
}

TEST(round_trip, seeded_random_inputs) {
    std::mt19937 rng(2024);
    for (int round = 0; round < 40; round++) {
        size_t size = rng() % 3 == 0 ? rng() % 300 : rng() % 70000;
        std::vector<uint8_t> input;
        switch (rng() % 5) {
        case 0: input = random_bytes(size, rng()); break;
        case 1: input = text_bytes(size, rng()); break;
        case 2:
            // Small alphabet: short matches everywhere.
            input = random_bytes(size, rng());
            for (auto &b : input) b = uint8_t('a' + b % 3);
            break;
        case 3:
            // Pieces of different kinds: frames that split into blocks.
            while (input.size() < size) {
                size_t piece = 2000 + rng() % 9000;
                auto more = rng() % 2 ? text_bytes(piece, rng()) : random_bytes(piece, rng());
                if (rng() % 3 == 0)
                    for (auto &b : more) b = uint8_t(b % 4);
                input.insert(input.end(), more.begin(), more.end());
            }
            input.resize(size);
            break;
        default:
            input = text_bytes(size, rng());
            for (size_t i = 0; i < size; i += 1 + rng() % 64) input[i] = uint8_t(rng());
        }
        compress_options options;
        options.split_blocks = int(rng() % 2);
        options.window_bits = 15 + int(rng() % 7);
        SCOPED_TRACE(round);
        expect_round_trip(input, options, round % 10 == 0);
    }
}

TEST(round_trip, compressors_side_by_side_match_one_alone) {
    // Compressors share no state: the same input gives the same stream
    // whether or not another compressor runs at the same time.
    std::vector<std::vector<uint8_t>> inputs = {text_bytes(70000, 50), text_bytes(70000, 51),
                                                random_bytes(40000, 52), text_bytes(50000, 53)};
    std::vector<compressed_stream> alone(inputs.size()), together(inputs.size());
    for (size_t i = 0; i < inputs.size(); i++)
        ASSERT_EQ(compress_buffer(inputs[i].data(), inputs[i].size(), {}, alone[i]), 0);
    std::vector<std::thread> threads;
    std::vector<int> status(inputs.size(), -1);
    for (size_t i = 0; i < inputs.size(); i++)
        threads.emplace_back(
            [&, i] { status[i] = compress_buffer(inputs[i].data(), inputs[i].size(), {}, together[i]); });
    for (auto &t : threads) t.join();
    for (size_t i = 0; i < inputs.size(); i++) {
        EXPECT_EQ(status[i], 0);
        EXPECT_TRUE(together[i].bytes == alone[i].bytes) << "input " << i;
    }
}

// Callbacks for the failure cases.
int give_zeros(void *, int n, void *buf) {
    std::memset(buf, 0, size_t(n));
    return n;
}
int give_error(void *, int, void *) { return -1; }
int give_too_much(void *, int n, void *) { return n + 1; }
int take_all(void *, int n, void *) { return n; }
int take_half(void *, int n, void *) { return n / 2; }
int never_eof(void *) { return 0; }

TEST(api_failures, bad_window_bits_are_refused) {
    for (int bits : {-1, 0, 14, 22, 32}) {
        lzx_data *h = reinterpret_cast<lzx_data *>(1);
        EXPECT_NE(lzx_init(&h, bits, give_zeros, nullptr, never_eof, take_all, nullptr, nullptr, nullptr), 0);
        EXPECT_EQ(h, nullptr);
    }
    EXPECT_NE(lzx_init(nullptr, 15, give_zeros, nullptr, never_eof, take_all, nullptr, nullptr, nullptr), 0);
}

TEST(api_failures, bad_arguments_give_negative_results) {
    EXPECT_LT(lzx_compress_block(nullptr, 32768, 1), 0);
    EXPECT_LT(lzx_finish(nullptr, nullptr), 0);
    lzx_reset(nullptr);
    lzx_data *h = nullptr;
    ASSERT_EQ(lzx_init(&h, 15, give_zeros, nullptr, never_eof, take_all, nullptr, nullptr, nullptr), 0);
    EXPECT_LT(lzx_compress_block(h, 0, 1), 0);
    EXPECT_LT(lzx_compress_block(h, -5, 1), 0);
    lzx_results r{};
    EXPECT_EQ(lzx_finish(h, &r), 0);
    EXPECT_EQ(r.uncompressed_length, 0u);
}

TEST(api_failures, failing_output_is_reported) {
    lzx_data *h = nullptr;
    ASSERT_EQ(lzx_init(&h, 15, give_zeros, nullptr, never_eof, take_half, nullptr, nullptr, nullptr), 0);
    // With worker threads a frame is delivered a few calls after its input.
    int calls = 1;
    while (lzx_compress_block(h, 32768, 1) >= 0 && calls < 100) calls++;
    EXPECT_LT(calls, 100);
    EXPECT_LT(lzx_compress_block(h, 32768, 1), 0);
    lzx_results r{};
    EXPECT_LT(lzx_finish(h, &r), 0);
}

TEST(api_failures, bad_input_counts_are_reported) {
    for (lzx_get_bytes_fn bad : {give_error, give_too_much}) {
        lzx_data *h = nullptr;
        ASSERT_EQ(lzx_init(&h, 16, bad, nullptr, never_eof, take_all, nullptr, nullptr, nullptr), 0);
        EXPECT_LT(lzx_compress_block(h, 65536, 0), 0);
        lzx_results r{};
        EXPECT_EQ(lzx_finish(h, &r), 0);
        EXPECT_EQ(r.uncompressed_length, 0u);
        EXPECT_EQ(r.compressed_length, 0u);
    }
}

// Input that goes on after a short read: the first request gets only
// `first` bytes, later ones the rest.
struct resumed_input {
    std::vector<uint8_t> data;
    size_t first;
    size_t position = 0;
};

int resume_after_short_read(void *context, int n, void *buf) {
    auto *in = static_cast<resumed_input *>(context);
    size_t count = std::min(size_t(n), in->data.size() - in->position);
    if (in->position == 0) count = std::min(count, in->first);
    std::memcpy(buf, in->data.data() + in->position, count);
    in->position += count;
    return int(count);
}

TEST(api_failures, input_after_a_short_read_in_mid_frame_is_refused) {
    // The short read padded its frame; more bytes would decode after the padding.
    resumed_input in{text_bytes(50000, 14), 20000};
    compressed_stream s;
    s.window_bits = 15;
    lzx_data *h = nullptr;
    ASSERT_EQ(lzx_init(&h, 15, resume_after_short_read, &in, never_eof, keep_output, &s, keep_frame_end, &s), 0);
    EXPECT_EQ(lzx_compress_block(h, 32768, 1), 0);
    EXPECT_LT(lzx_compress_block(h, 32768, 1), 0);
    lzx_results r{};
    EXPECT_EQ(lzx_finish(h, &r), 0);
    s.compressed_length = r.compressed_length;
    s.uncompressed_length = r.uncompressed_length;
    expect_consistent(s, 20000);
    std::vector<uint8_t> out;
    std::string error;
    ASSERT_TRUE(decode_with_mspack(wrap_in_its(s), out, error)) << error;
    EXPECT_TRUE(out == std::vector<uint8_t>(in.data.begin(), in.data.begin() + 20000));
}

}  // namespace
