// Block planning shortcuts must give exactly what planning from scratch
// gives: a finished quick plan, a continued pretree segment, counts gathered
// piece by piece.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "bit_writer.h"
#include "block_encoder.h"
#include "code_lengths_writer.h"
#include "huffman.h"

namespace {

using namespace lzx;

// Literals skewed towards a few bytes, matches of every length class at
// near, far and repeated offsets.
std::vector<item> random_items(uint32_t seed, size_t count) {
    std::mt19937 rng(seed);
    std::vector<item> items;
    for (size_t i = 0; i < count; i++) {
        if (rng() % 3) {
            items.push_back({1, uint16_t(rng() % (rng() % 2 ? 16 : 256)), 0});
        } else {
            uint32_t length = rng() % 4 ? 2 + rng() % 7 : 2 + rng() % 256;
            uint32_t offset_code = rng() % 4 == 0 ? rng() % 3 : 3 + rng() % (rng() % 2 ? 64 : 32000);
            items.push_back({uint16_t(length), 0, offset_code});
        }
    }
    return items;
}

uint32_t bytes_of(const std::vector<item> &items) {
    uint32_t bytes = 0;
    for (const item &it : items) bytes += it.length;
    return bytes;
}

void expect_same_segment(const length_segment &a, const length_segment &b) {
    EXPECT_EQ(a.bits, b.bits);
    ASSERT_EQ(a.op_count, b.op_count);
    EXPECT_EQ(std::memcmp(a.pretree_lengths, b.pretree_lengths, pretree_symbols), 0);
    EXPECT_EQ(std::memcmp(a.ops, b.ops, sizeof(pretree_op) * a.op_count), 0);
}

TEST(planning, a_finished_quick_plan_is_the_full_plan) {
    for (uint32_t seed = 1; seed <= 6; seed++) {
        block_encoder encoder(seed % 2 ? 15 : 21);
        std::vector<item> first = random_items(seed, 1200), second = random_items(seed + 100, 1200);
        auto full = std::make_unique<block_plan>(), quick = std::make_unique<block_plan>();
        // Against zero previous lengths, then against the first block's.
        std::vector<uint8_t> out;
        bit_writer bits(out);
        for (const std::vector<item> *items : {&first, &second}) {
            uint32_t size = bytes_of(*items);
            encoder.plan(items->data(), items->size(), size, bits.bits_in_word(), *full);
            std::memcpy(&quick->stats, &full->stats, sizeof full->stats);
            encoder.plan_from_stats(quick->stats, 0, size, 0, *quick, true);
            encoder.finish_plan(quick->stats, size, bits.bits_in_word(), *quick);
            for (int k = 0; k < 3; k++) expect_same_segment(quick->segments[k], full->segments[k]);
            EXPECT_EQ(quick->best, full->best);
            EXPECT_EQ(quick->best_bits, full->best_bits);
            // The plan's size is what gets written.
            std::vector<uint8_t> data(size);
            uint64_t before = bits.bit_count();
            encoder.write(*full, items->data(), items->size(), data.data(), size, bits);
            EXPECT_EQ(bits.bit_count() - before, full->best_bits);
        }
    }
}

TEST(planning, continued_segments_match_segments_planned_at_once) {
    std::mt19937 rng(3);
    auto once = std::make_unique<length_segment>(), stepped = std::make_unique<length_segment>();
    for (int round = 0; round < 200; round++) {
        uint32_t count = 20 + rng() % 600;
        std::vector<uint8_t> previous(count), lengths(count);
        for (uint32_t i = 0; i < count; i++) {
            previous[i] = rng() % 3 ? 0 : uint8_t(rng() % 17);
            // Runs of zeros and of equal lengths, and scattered values.
            lengths[i] = rng() % 4 == 0 ? uint8_t(rng() % 17) : i > 0 && rng() % 2 ? lengths[i - 1] : 0;
        }
        for (int rounds = 1; rounds <= 4; rounds++) {
            plan_length_segment(previous.data(), lengths.data(), count, *once, rounds);
            plan_length_segment(previous.data(), lengths.data(), count, *stepped, 1);
            refine_length_segment(previous.data(), lengths.data(), count, *stepped, rounds - 1);
            expect_same_segment(*stepped, *once);
            std::vector<uint8_t> out;
            bit_writer bits(out);
            write_length_segment(*once, bits);
            EXPECT_EQ(bits.bit_count(), once->bits);
        }
    }
}

TEST(planning, pieces_counted_apart_add_up_to_the_whole) {
    std::vector<item> items = random_items(9, 5000);
    auto whole = std::make_unique<block_stats>(), parts = std::make_unique<block_stats>();
    clear_stats(*whole);
    add_items(items.data(), items.size(), *whole);
    clear_stats(*parts);
    size_t first = 0;
    uint32_t covered = 0;
    while (first < items.size()) {
        uint32_t bytes = 0;
        size_t taken = add_items_covering(items.data() + first, items.size() - first, 4096, *parts, bytes);
        // Each piece ends on the first item that reaches the size, or at the end.
        EXPECT_LT(bytes - items[first + taken - 1].length, 4096u);
        EXPECT_TRUE(bytes >= 4096 || first + taken == items.size());
        first += taken;
        covered += bytes;
    }
    EXPECT_EQ(covered, bytes_of(items));
    EXPECT_EQ(std::memcmp(whole.get(), parts.get(), sizeof(block_stats)), 0);
}

TEST(planning, rarer_symbols_never_get_shorter_codes) {
    // Many used symbols with weights of one to four bytes, ties included.
    std::mt19937 rng(21);
    for (int round = 0; round < 20; round++) {
        const uint32_t count = 656;
        std::vector<uint32_t> freqs(count);
        for (uint32_t s = 0; s < count; s++) freqs[s] = rng() % 5 == 0 ? 0 : (rng() % 40) << (8 * (round % 4));
        std::vector<uint8_t> lengths(count);
        build_code_lengths(freqs.data(), count, 16, lengths.data());
        // Weight first, then symbol, orders the symbols from rarest.
        for (uint32_t a = 0; a < count; a++)
            for (uint32_t b = a + 1; b < count; b++)
                if (freqs[a] && freqs[b]) {
                    uint32_t rarer = freqs[a] <= freqs[b] ? a : b, other = rarer == a ? b : a;
                    EXPECT_GE(lengths[rarer], lengths[other]) << a << " " << b;
                }
    }
}

}  // namespace
