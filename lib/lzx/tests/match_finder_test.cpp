// The match finder against a brute-force search, and frame after frame.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "../src/lzx_format.h"
#include "../src/match_finder.h"
#include "test_inputs.h"

namespace {

using lzx_test::random_bytes;
using lzx_test::text_bytes;

// Frames of several kinds and sizes, the tiny ones included.
std::vector<std::vector<uint8_t>> sample_frames(size_t text_size) {
    std::vector<std::vector<uint8_t>> frames;
    frames.push_back(text_bytes(text_size, 31));
    std::vector<uint8_t> runs(text_size, 'x');
    for (size_t i = 0; i < runs.size(); i += 700) runs[i] = 'y';
    frames.push_back(runs);
    // Noise with a few long copies, some longer than a match can be.
    std::vector<uint8_t> copies = random_bytes(text_size, 32);
    std::copy(copies.begin() + 10, copies.begin() + 600, copies.begin() + text_size / 2);
    std::copy(copies.begin() + 50, copies.begin() + 80, copies.begin() + text_size / 3);
    frames.push_back(copies);
    for (size_t n : {1u, 2u, 3u, 4u, 5u, 9u}) frames.push_back(text_bytes(n, 33));
    frames.push_back(std::vector<uint8_t>(6, 'a'));
    return frames;
}

uint32_t longest_listed(const lzx::match_cache &cache, uint32_t pos) {
    return cache.first[pos] < cache.first[pos + 1] ? cache.matches[cache.first[pos + 1] - 1].length : 0;
}

// With no depth bound and no skipping, every position lists the longest
// match of 4 or more bytes that exists, capped at the longest codable.
TEST(match_finder, UnboundedSearchFindsEveryLongestMatch) {
    lzx::match_finder finder(lzx::frame_size, lzx::max_match, 1u << 20, lzx::max_match + 1);
    lzx::match_cache cache;
    for (const auto &frame : sample_frames(5000)) {
        const uint32_t size = uint32_t(frame.size());
        finder.find_all(frame.data(), size, cache);
        ASSERT_EQ(cache.first.size(), frame.size() + 1);
        for (uint32_t pos = 0; pos < size; pos++) {
            const uint32_t cap = std::min(lzx::max_match, size - pos);
            uint32_t longest = 0;
            for (uint32_t from = 0; from < pos && longest < cap; from++) {
                uint32_t len = 0;
                while (len < cap && frame[from + len] == frame[pos + len]) len++;
                longest = std::max(longest, len);
            }
            const uint32_t listed = longest_listed(cache, pos);
            if (longest >= 4)
                ASSERT_EQ(listed, longest) << "size " << size << " pos " << pos;
            else
                ASSERT_LE(listed, longest) << "size " << size << " pos " << pos;
        }
    }
}

// Nothing of one frame may leak into the next: a finder reused over frames
// of every size lists exactly what a fresh one does.
TEST(match_finder, ReusedFinderListsWhatAFreshOneDoes) {
    for (uint32_t max_distance : {lzx::frame_size, 1000u}) {
        lzx::match_finder reused(max_distance, lzx::max_match, 32, 128);
        lzx::match_cache reused_cache;
        auto frames = sample_frames(lzx::frame_size);
        // Long frames first, then short ones over the stale tables, then long again.
        frames.push_back(frames[0]);
        for (const auto &frame : frames) {
            const uint32_t size = uint32_t(frame.size());
            lzx::match_finder fresh(max_distance, lzx::max_match, 32, 128);
            lzx::match_cache fresh_cache;
            fresh.find_all(frame.data(), size, fresh_cache);
            reused.find_all(frame.data(), size, reused_cache);
            ASSERT_EQ(reused_cache.first, fresh_cache.first) << "size " << size;
            for (uint32_t i = 0; i < fresh_cache.first[size]; i++) {
                ASSERT_EQ(reused_cache.matches[i].length, fresh_cache.matches[i].length) << i;
                ASSERT_EQ(reused_cache.matches[i].distance, fresh_cache.matches[i].distance) << i;
            }
        }
    }
}

}  // namespace
