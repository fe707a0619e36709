// The bitstream writer on hand-built items, independent of the parser:
// every block type, repeat offsets, extreme lengths and distances, read back
// by libmspack and 7-Zip; and the tree builder's guarantees.
#include <gtest/gtest.h>

#include <memory>
#include <random>

#include "bit_writer.h"
#include "block_encoder.h"
#include "code_lengths_writer.h"
#include "huffman.h"
#include "its_wrapper.h"
#include "sevenzip.h"

namespace {

using namespace lzx;
using lzx_test::compressed_stream;

item literal(uint8_t b) { return {1, b, 0}; }
item match(uint32_t length, uint32_t offset_code) { return {uint16_t(length), 0, offset_code}; }
item far(uint32_t length, uint32_t distance) { return match(length, distance + 2); }

// Replays items as a decoder would, appending to out.
void replay(const std::vector<item> &items, std::vector<uint8_t> &out, uint32_t repeats[3]) {
    for (const item &it : items) {
        if (it.length == 1) {
            out.push_back(uint8_t(it.literal));
            continue;
        }
        uint32_t r[3] = {repeats[0], repeats[1], repeats[2]};
        advance_repeats(&it, 1, repeats);
        uint32_t distance = it.offset_code >= 3 ? it.offset_code - 2 : r[it.offset_code];
        ASSERT_LE(distance, out.size());
        for (uint32_t i = 0; i < it.length; i++) out.push_back(out[out.size() - distance]);
    }
}

struct test_block {
    std::vector<item> items;
    int forced_type = 0;  // 0: the encoder's choice
};

struct frame_result {
    std::vector<uint8_t> data;
    std::vector<block_type> types;
    compressed_stream stream;
};

// Writes one frame of blocks; the blocks must cover exactly 32768 bytes.
frame_result encode_frame(const std::vector<test_block> &blocks) {
    frame_result r;
    r.stream.window_bits = 15;
    block_encoder encoder(15);
    bit_writer bits(r.stream.bytes);
    bits.put(0, 1);
    uint32_t repeats[3] = {1, 1, 1};
    auto plan = std::make_unique<block_plan>();
    for (const test_block &b : blocks) {
        size_t start = r.data.size();
        replay(b.items, r.data, repeats);
        uint32_t size = uint32_t(r.data.size() - start);
        encoder.plan(b.items.data(), b.items.size(), size, bits.bits_in_word(), *plan);
        if (b.forced_type) plan->best = block_type(b.forced_type);
        r.types.push_back(plan->best);
        encoder.write(*plan, b.items.data(), b.items.size(), r.data.data() + start, size, bits);
        EXPECT_EQ(repeats[0], encoder.repeats()[0]);
    }
    bits.align();
    EXPECT_EQ(r.data.size(), 32768u);
    r.stream.frame_ends_uncompressed = {32768};
    r.stream.frame_ends_compressed = {uint32_t(r.stream.bytes.size())};
    r.stream.bytes.insert(r.stream.bytes.end(), 2, 0);  // read-ahead room after a whole frame
    r.stream.uncompressed_length = 32768;
    r.stream.compressed_length = r.stream.bytes.size();
    return r;
}

void expect_decoded(const frame_result &r) {
    std::vector<uint8_t> its = lzx_test::wrap_in_its(r.stream), out;
    std::string error;
    ASSERT_TRUE(lzx_test::decode_with_mspack(its, out, error)) << error;
    EXPECT_TRUE(out == r.data) << "libmspack output differs";
    ASSERT_TRUE(lzx_test::decode_with_7zip(its, out, error)) << error;
    EXPECT_TRUE(out == r.data) << "7-Zip output differs";
}

// Literals up to `target` bytes in the frame, from a fixed random source.
void literals_to(std::vector<item> &items, uint32_t &position, uint32_t target, uint32_t seed) {
    std::mt19937 rng(seed);
    for (; position < target; position++) items.push_back(literal(uint8_t(rng())));
}

TEST(block_encoder, longest_match_farthest_distance_and_repeat_swaps) {
    std::vector<item> items;
    uint32_t pos = 0;
    literals_to(items, pos, 200, 1);
    items.push_back(far(257, 100));  // R = 100 1 1
    items.push_back(far(10, 37));    // R = 37 100 1
    items.push_back(match(5, 1));    // R1: 100 37 1
    items.push_back(match(4, 2));    // R2: 1 37 100
    items.push_back(match(9, 0));    // R0 = 1
    items.push_back(match(3, 1));    // R1: 37 1 100
    items.push_back(match(200, 2));  // R2: 100 1 37
    pos += 257 + 10 + 5 + 4 + 9 + 3 + 200;
    while (pos + 257 <= 32765) {
        items.push_back(far(257, 100 + pos % 500));
        pos += 257;
    }
    literals_to(items, pos, 32765, 2);
    items.push_back(far(3, 32765));  // back to the first byte of the frame
    for (int type : {0, 1, 2}) {
        SCOPED_TRACE(type);
        frame_result r = encode_frame({{items, type}});
        expect_decoded(r);
    }
}

TEST(block_encoder, every_block_type_in_one_frame) {
    // Verbatim, then an odd-sized uncompressed block whose matches move the
    // repeat offsets, then an aligned block that starts with R0 and R1.
    std::vector<test_block> blocks(3);
    uint32_t pos = 0;
    literals_to(blocks[0].items, pos, 3000, 3);
    for (int i = 0; i < 20; i++) blocks[0].items.push_back(far(40, 1000 + 17 * i));
    pos += 800;
    blocks[0].forced_type = 1;
    literals_to(blocks[1].items, pos, pos + 101, 4);
    blocks[1].items.push_back(far(50, 2345));
    blocks[1].items.push_back(far(20, 777));
    pos += 70;
    blocks[1].forced_type = 3;
    blocks[2].items.push_back(match(30, 0));  // 777
    blocks[2].items.push_back(match(30, 1));  // 2345
    pos += 60;
    while (pos + 100 <= 32768) {
        blocks[2].items.push_back(far(100, 500 + (pos * 7) % 2500));
        pos += 100;
    }
    literals_to(blocks[2].items, pos, 32768, 5);
    blocks[2].forced_type = 2;
    frame_result r = encode_frame(blocks);
    ASSERT_EQ(r.types, (std::vector<block_type>{block_type::verbatim, block_type::uncompressed, block_type::aligned}));
    expect_decoded(r);
}

TEST(block_encoder, uncompressed_header_ending_on_a_word_boundary) {
    // Find a first block after which the next header ends exactly on a word
    // boundary: the uncompressed block then needs 16 bits of padding.
    for (uint32_t n = 1; n < 64; n++) {
        std::vector<test_block> blocks(2);
        uint32_t pos = 0;
        literals_to(blocks[0].items, pos, n, 6);
        blocks[0].forced_type = 1;
        literals_to(blocks[1].items, pos, 32768, 7);
        blocks[1].forced_type = 3;

        std::vector<uint8_t> scratch;
        bit_writer bits(scratch);
        bits.put(0, 1);
        block_encoder encoder(15);
        auto plan = std::make_unique<block_plan>();
        std::vector<uint8_t> data(n);
        encoder.plan(blocks[0].items.data(), n, n, 1, *plan);
        plan->best = block_type::verbatim;
        encoder.write(*plan, blocks[0].items.data(), n, data.data(), n, bits);
        if ((bits.bits_in_word() + 27) % 16 != 0) continue;

        frame_result r = encode_frame(blocks);
        expect_decoded(r);
        return;
    }
    FAIL() << "no first block put the header on a word boundary";
}

TEST(block_encoder, single_literal_tree_and_empty_length_tree) {
    // One main symbol only (it gets a partner) and no length tree at all.
    std::vector<item> items(32768, literal('x'));
    expect_decoded(encode_frame({{items, 1}}));
    // Short matches only: the length tree stays empty.
    std::vector<item> shorts;
    uint32_t pos = 0;
    literals_to(shorts, pos, 10, 8);
    for (; pos + 8 <= 32768; pos += 8) shorts.push_back(far(8, 5 + pos % 7));
    literals_to(shorts, pos, 32768, 9);
    expect_decoded(encode_frame({{shorts, 0}}));
}

TEST(block_encoder, picks_the_smallest_type) {
    std::vector<item> noise;
    uint32_t pos = 0;
    literals_to(noise, pos, 32768, 10);
    EXPECT_EQ(encode_frame({{noise, 0}}).types[0], block_type::uncompressed);
    std::vector<item> runs{literal('a')};
    for (pos = 1; pos + 257 <= 32768; pos += 257) runs.push_back(match(257, 0));
    literals_to(runs, pos, 32768, 11);
    frame_result r = encode_frame({{runs, 0}});
    EXPECT_EQ(r.types[0], block_type::verbatim);
    EXPECT_LT(r.stream.bytes.size(), 400u);
}

// Applies a segment's pretree ops to the previous lengths as a decoder does.
std::vector<uint8_t> apply_segment(const length_segment &segment, std::vector<uint8_t> lengths) {
    size_t at = 0;
    for (uint32_t i = 0; i < segment.op_count; i++) {
        const pretree_op &op = segment.ops[i];
        if (op.symbol <= 16) {
            lengths.at(at) = uint8_t((lengths.at(at) + 17 - op.symbol) % 17);
            at++;
        } else if (op.symbol == 17 || op.symbol == 18) {
            uint32_t run = (op.symbol == 17 ? 4 : 20) + op.extra;
            for (uint32_t k = 0; k < run; k++) lengths.at(at++) = 0;
        } else {
            // The run's value comes from the previous length of its first element.
            uint8_t value = uint8_t((lengths.at(at) + 17 - op.run_symbol) % 17);
            for (uint32_t k = 0; k < 4u + op.extra; k++) lengths.at(at++) = value;
        }
    }
    EXPECT_EQ(at, lengths.size());
    return lengths;
}

TEST(block_codes, prices_are_information_content_in_sixteenths_of_a_bit) {
    auto stats = std::make_unique<block_stats>();
    auto codes = std::make_unique<block_codes>();
    auto prices = std::make_unique<costs>();
    clear_stats(*stats);
    stats->main['a'] = 1022;
    stats->main['b'] = 1;
    stats->main['c'] = 1;
    const uint32_t main_symbols = 256 + 8 * 30;
    build_block_lengths(*stats, main_symbols, *codes);
    prices_from_stats(*stats, *codes, main_symbols, false, *prices);
    EXPECT_EQ(prices->main['a'], 1 * price_scale);   // never below one bit
    EXPECT_EQ(prices->main['b'], 10 * price_scale);  // 1 in 1024
    // Unused: a bit above the longest code (2 bits here), or a guess for an empty tree.
    EXPECT_EQ(prices->main['d'], 3 * price_scale);
    EXPECT_EQ(prices->length[0], 6 * price_scale);
    EXPECT_EQ(prices->aligned[0], 3 * price_scale);
    EXPECT_EQ(prices->main[main_symbols], main_max_code_length * price_scale);
}

TEST(code_lengths_writer, segments_rebuild_the_lengths_with_every_run_code) {
    // Long and short zero runs, runs of one value, scattered values.
    std::vector<uint8_t> previous(300), wanted(300);
    std::mt19937 rng(5);
    for (size_t i = 0; i < 300; i++) {
        previous[i] = uint8_t(rng() % 17);
        if (i < 60) wanted[i] = 0;
        else if (i < 70) wanted[i] = 0;
        else if (i < 75) wanted[i] = 7;
        else if (i < 80) wanted[i] = 9;
        else wanted[i] = uint8_t(i % 11 == 0 ? 0 : rng() % 16 + 1);
    }
    auto segment = std::make_unique<length_segment>();
    plan_length_segment(previous.data(), wanted.data(), 300, *segment);
    EXPECT_EQ(apply_segment(*segment, previous), wanted);
    bool used[20] = {};
    for (uint32_t i = 0; i < segment->op_count; i++) used[segment->ops[i].symbol] = true;
    EXPECT_TRUE(used[18]);
    // Whatever it picked, its size is what it writes.
    std::vector<uint8_t> out;
    bit_writer bits(out);
    write_length_segment(*segment, bits);
    EXPECT_EQ(bits.bit_count(), segment->bits);
    // Equal lengths over equal previous lengths: run code 19 pays.
    std::vector<uint8_t> flat_previous(200, 3), flat(200, 5);
    plan_length_segment(flat_previous.data(), flat.data(), 200, *segment);
    EXPECT_EQ(apply_segment(*segment, flat_previous), flat);
    bool any_19 = false;
    for (uint32_t i = 0; i < segment->op_count; i++) any_19 |= segment->ops[i].symbol == 19;
    EXPECT_TRUE(any_19);
}

// Kraft sum in units of 2^-limit.
uint64_t kraft(const std::vector<uint8_t> &lengths, uint32_t limit) {
    uint64_t sum = 0;
    for (uint8_t l : lengths) {
        if (l) sum += uint64_t(1) << (limit - l);
    }
    return sum;
}

TEST(huffman, codes_are_complete_and_within_the_limit) {
    std::mt19937 rng(11);
    for (int round = 0; round < 500; round++) {
        uint32_t count = 2 + rng() % 655;
        uint32_t limit = round % 3 == 0 ? 7 : round % 3 == 1 ? 15 : 16;
        if (limit == 7) count = 8;
        std::vector<uint32_t> freqs(count);
        for (uint32_t s = 0; s < count; s++) {
            uint32_t kind = rng() % 4;
            freqs[s] = kind == 0 ? 0 : kind == 1 ? 1 : kind == 2 ? rng() % 100 : 1u << (rng() % 20);
        }
        std::vector<uint8_t> lengths(count);
        build_code_lengths(freqs.data(), count, limit, lengths.data());
        uint32_t used = 0;
        for (uint32_t s = 0; s < count; s++) {
            EXPECT_LE(lengths[s], limit);
            if (freqs[s]) {
                used++;
                EXPECT_GT(lengths[s], 0);
            }
        }
        if (used) {
            EXPECT_EQ(kraft(lengths, limit), uint64_t(1) << limit) << "round " << round;
        }
    }
}

TEST(huffman, skewed_weights_are_limited) {
    // Fibonacci weights would give a 30-deep tree.
    std::vector<uint32_t> freqs(32);
    freqs[0] = freqs[1] = 1;
    for (int i = 2; i < 32; i++) freqs[i] = freqs[i - 1] + freqs[i - 2];
    std::vector<uint8_t> lengths(32);
    build_code_lengths(freqs.data(), 32, 15, lengths.data());
    EXPECT_EQ(kraft(lengths, 15), 1u << 15);
    EXPECT_EQ(lengths[31], 1);
}

TEST(huffman, single_symbol_gets_a_partner) {
    uint32_t freqs[8] = {0, 0, 0, 5, 0, 0, 0, 0};
    uint8_t lengths[8];
    build_code_lengths(freqs, 8, 7, lengths);
    EXPECT_EQ(lengths[3], 1);
    EXPECT_EQ(lengths[0], 1);
    uint32_t first[4] = {9, 0, 0, 0};
    build_code_lengths(first, 4, 7, lengths);
    EXPECT_EQ(lengths[0], 1);
    EXPECT_EQ(lengths[1], 1);
}

TEST(huffman, canonical_codes) {
    const uint8_t lengths[6] = {2, 1, 3, 3, 0, 0};
    uint16_t codes[6];
    build_canonical_codes(lengths, 6, codes);
    EXPECT_EQ(codes[1], 0b0);
    EXPECT_EQ(codes[0], 0b10);
    EXPECT_EQ(codes[2], 0b110);
    EXPECT_EQ(codes[3], 0b111);
}

TEST(bit_writer, words_are_little_endian_filled_from_the_top) {
    std::vector<uint8_t> out;
    bit_writer bits(out);
    bits.put(1, 1);
    bits.put(0x5, 3);        // 1101
    bits.put(0x1ABCD, 17);   // spills into the second word
    bits.align();
    ASSERT_EQ(out.size(), 4u);
    // Stream bits: 1 101 1 1010 1011 1100 1101 then zeros.
    // Word 1: 1101 1101 0101 1110 = 0xDD5E; word 2: 0110 1000 0000 0000 = 0x6800.
    EXPECT_EQ(out[0], 0x5E);
    EXPECT_EQ(out[1], 0xDD);
    EXPECT_EQ(out[2], 0x00);
    EXPECT_EQ(out[3], 0x68);
}

}  // namespace
