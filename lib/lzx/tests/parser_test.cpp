// The parser's items must rebuild the frame exactly under the decoder's rules.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "../src/match_finder.h"
#include "../src/parser.h"

namespace {

using lzx::item;

struct replay_result {
    bool ok = true;
    std::string error;
    uint32_t repeats[3] = {1, 1, 1};
};

// Applies items to `out` (which already holds the frame before `begin`) the
// way a decoder does, checking every bound.
replay_result replay(const std::vector<item> &items, const std::vector<uint8_t> &frame, uint32_t begin,
                     uint32_t end, const uint32_t start[3], uint32_t max_distance) {
    replay_result r;
    std::memcpy(r.repeats, start, sizeof r.repeats);
    std::vector<uint8_t> out(frame.begin(), frame.begin() + begin);
    auto fail = [&](std::string why) {
        r.ok = false;
        r.error = why + " at " + std::to_string(out.size());
        return r;
    };
    for (const item &it : items) {
        if (it.length == 1) {
            out.push_back(uint8_t(it.literal));
            continue;
        }
        if (it.length < 2 || it.length > 257) return fail("bad length " + std::to_string(it.length));
        uint32_t distance;
        if (it.offset_code >= 3) {
            distance = it.offset_code - 2;
            r.repeats[2] = r.repeats[1];
            r.repeats[1] = r.repeats[0];
            r.repeats[0] = distance;
        } else {
            std::swap(r.repeats[0], r.repeats[it.offset_code]);
            distance = r.repeats[0];
        }
        if (distance == 0 || distance > out.size()) return fail("match before frame start");
        if (distance > max_distance) return fail("distance too large");
        if (out.size() + it.length > end) return fail("match beyond end");
        for (uint32_t i = 0; i < it.length; i++) out.push_back(out[out.size() - distance]);
    }
    if (out.size() != end) return fail("items cover " + std::to_string(out.size()) + " bytes");
    if (!std::equal(out.begin(), out.end(), frame.begin())) {
        size_t at = std::mismatch(out.begin(), out.end(), frame.begin()).first - out.begin();
        r.ok = false;
        r.error = "mismatch at " + std::to_string(at);
    }
    return r;
}

struct parse_outcome {
    std::vector<item> items;
    uint32_t end_repeats[3];
    uint64_t price = 0;
};

uint64_t price_of(const std::vector<item> &items, const lzx::costs &c) {
    uint64_t total = 0;
    for (const item &it : items) {
        if (it.length == 1) {
            total += c.main[it.literal];
            continue;
        }
        uint32_t slot = lzx::slot_of(it.offset_code);
        total += c.main[256 + 8 * slot + std::min<uint32_t>(it.length - 2, 7)];
        if (it.length >= 9) total += c.length[it.length - 9];
        uint32_t bits = lzx::footer_bits(slot);
        if (c.aligned_block && bits >= 3)
            total += (bits - 3) * lzx::price_scale + c.aligned[(it.offset_code - lzx::slot_bases.base[slot]) & 7];
        else
            total += bits * lzx::price_scale;
    }
    return total;
}

// Parses [begin, end) of a loaded frame and checks the result fully.
void check_parse(lzx::parser &p, const std::vector<uint8_t> &frame, uint32_t begin, uint32_t end,
                 const uint32_t start[3], const lzx::costs &prices, uint32_t max_distance,
                 parse_outcome *outcome = nullptr, uint32_t whole_length = lzx::parser::take_whole_length) {
    std::vector<item> items;
    uint32_t end_repeats[3] = {0, 0, 0};
    p.parse(prices, begin, end, start, items, end_repeats, whole_length);
    replay_result r = replay(items, frame, begin, end, start, max_distance);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(end_repeats[0], r.repeats[0]);
    EXPECT_EQ(end_repeats[1], r.repeats[1]);
    EXPECT_EQ(end_repeats[2], r.repeats[2]);
    if (outcome) {
        outcome->items = items;
        std::memcpy(outcome->end_repeats, end_repeats, sizeof end_repeats);
        outcome->price = price_of(items, prices);
    }
}

const uint32_t fresh[3] = {1, 1, 1};

// The vector and the scalar loops must choose the very same items.
void expect_same_parse_both_ways(const std::vector<uint8_t> &frame, uint32_t window_bits, uint32_t begin,
                                 uint32_t end, const uint32_t start[3], const lzx::costs &prices,
                                 uint32_t whole_length = lzx::parser::take_whole_length) {
    std::vector<item> items[2];
    uint32_t end_repeats[2][3];
    for (int wide = 0; wide < 2; wide++) {
        lzx::parser p(window_bits, wide == 1);
        p.load_span(frame.data(), uint32_t(frame.size()));
        p.parse(prices, begin, end, start, items[wide], end_repeats[wide], whole_length);
    }
    ASSERT_EQ(items[0].size(), items[1].size());
    for (size_t i = 0; i < items[0].size(); i++) {
        ASSERT_EQ(items[0][i].length, items[1][i].length) << "item " << i;
        ASSERT_EQ(items[0][i].literal, items[1][i].literal) << "item " << i;
        ASSERT_EQ(items[0][i].offset_code, items[1][i].offset_code) << "item " << i;
    }
    EXPECT_TRUE(std::equal(end_repeats[0], end_repeats[0] + 3, end_repeats[1]));
}

lzx::costs start_prices(uint32_t window_bits = 15) {
    lzx::costs c;
    lzx::parser::initial_costs(window_bits, c);
    return c;
}

// Parses the whole frame with starting prices, optionally with literals at
// another price.
parse_outcome check_frame(const std::vector<uint8_t> &frame, uint32_t window_bits = 15, uint32_t literal_price = 0) {
    lzx::parser p(window_bits);
    p.load_span(frame.data(), uint32_t(frame.size()));
    lzx::costs prices = start_prices(window_bits);
    if (literal_price)
        for (uint32_t c = 0; c < 256; c++) prices.main[c] = literal_price * lzx::price_scale;
    parse_outcome out;
    check_parse(p, frame, 0, uint32_t(frame.size()), fresh, prices, (1u << window_bits) - 3, &out);
    return out;
}

std::vector<uint8_t> random_bytes(size_t n, uint32_t seed, int alphabet = 256) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> v(n);
    for (auto &b : v) b = uint8_t(rng() % alphabet);
    return v;
}

std::vector<uint8_t> text_bytes(size_t n, uint32_t seed) {
    static const char *words[] = {"the ", "parser ", "<div class=\"body\">", "frame ", "match ",
                                  "and ", "of ", "</div>\n", "offset ", "repeat ", "python ", "a "};
    std::mt19937 rng(seed);
    std::string s;
    while (s.size() < n) s += words[rng() % 12];
    s.resize(n);
    return std::vector<uint8_t>(s.begin(), s.end());
}

// Every cached match must be real, in bounds and ordered as the parser expects.
void check_cache(const std::vector<uint8_t> &frame, const lzx::match_cache &cache, uint32_t max_distance) {
    ASSERT_EQ(cache.first.size(), frame.size() + 1);
    for (uint32_t pos = 0; pos < frame.size(); pos++) {
        uint32_t previous_length = 0, previous_distance = 0;
        for (uint32_t i = cache.first[pos]; i < cache.first[pos + 1]; i++) {
            const lzx::match &m = cache.matches[i];
            ASSERT_GE(m.length, 2u) << pos;
            ASSERT_LE(m.length, 257u) << pos;
            ASSERT_LE(pos + m.length, frame.size()) << pos;
            ASSERT_GE(m.distance, 1u) << pos;
            ASSERT_LE(m.distance, std::min(pos, max_distance)) << pos;
            ASSERT_GT(m.length, previous_length) << pos;
            ASSERT_GT(m.distance, previous_distance) << pos;
            ASSERT_TRUE(std::equal(frame.begin() + pos, frame.begin() + pos + m.length,
                                   frame.begin() + pos - m.distance))
                << pos;
            previous_length = m.length;
            previous_distance = m.distance;
        }
    }
}

TEST(match_finder, MatchesAreRealOrderedAndInBounds) {
    lzx::match_finder finder(32765, 257, 16, 128);
    lzx::match_cache cache;
    std::vector<uint8_t> text = text_bytes(lzx::frame_size, 20);
    finder.find_all(text.data(), uint32_t(text.size()), cache);
    check_cache(text, cache, 32765);
    // The finder is reused frame after frame: nothing may leak across.
    std::vector<uint8_t> runs(lzx::frame_size, 'x');
    for (size_t i = 0; i < runs.size(); i += 1000) runs[i] = 'y';
    finder.find_all(runs.data(), uint32_t(runs.size()), cache);
    check_cache(runs, cache, 32765);
    std::vector<uint8_t> small = random_bytes(100, 21, 3);
    finder.find_all(small.data(), uint32_t(small.size()), cache);
    check_cache(small, cache, 32765);
}

TEST(match_finder, FindsTheLongestMatchAndTheNearestShortOne) {
    // A random block repeated far away, and a near copy of its first bytes.
    std::vector<uint8_t> frame = random_bytes(lzx::frame_size, 22);
    std::copy(frame.begin() + 100, frame.begin() + 400, frame.begin() + 20000);
    std::copy(frame.begin() + 100, frame.begin() + 110, frame.begin() + 19950);
    lzx::match_finder finder(32765, 257, 16, 300);
    lzx::match_cache cache;
    finder.find_all(frame.data(), uint32_t(frame.size()), cache);
    check_cache(frame, cache, 32765);
    ASSERT_LT(cache.first[20000], cache.first[20001]);
    const lzx::match &longest = cache.matches[cache.first[20001] - 1];
    EXPECT_EQ(longest.length, 257u);
    EXPECT_EQ(longest.distance, 19900u);
    const lzx::match &nearest = cache.matches[cache.first[20000]];
    EXPECT_EQ(nearest.distance, 50u);
    EXPECT_EQ(nearest.length, 10u);
}

TEST(parser, EmptyAndTinyFrames) {
    for (uint32_t n : {0u, 1u, 2u, 3u, 5u}) {
        std::vector<uint8_t> frame(n, 'a');
        parse_outcome out = check_frame(frame);
        if (n == 0) {
            EXPECT_TRUE(out.items.empty());
        }
    }
}

TEST(parser, RandomAndTextFrames) {
    check_frame(random_bytes(lzx::frame_size, 1));
    check_frame(random_bytes(lzx::frame_size, 2, 4));
    parse_outcome text = check_frame(text_bytes(lzx::frame_size, 3));
    // Text of a dozen words must compress far below 8 bits a byte.
    EXPECT_LT(text.price, uint64_t(lzx::frame_size) * 3 * lzx::price_scale);
}

TEST(parser, LongRunsUseLongestMatches) {
    std::vector<uint8_t> frame(lzx::frame_size, 0);
    for (size_t i = 20000; i < 20100; i++) frame[i] = uint8_t(i);
    parse_outcome out = check_frame(frame);
    EXPECT_LT(out.items.size(), 400u);
    bool longest = false;
    for (const item &it : out.items) longest |= it.length == 257;
    EXPECT_TRUE(longest);
}

TEST(parser, PeriodicDataUsesRepeatOffsets) {
    // Alternating periods make the repeat offsets pay.
    std::vector<uint8_t> unit_a = random_bytes(37, 4), unit_b = random_bytes(53, 5);
    std::vector<uint8_t> frame;
    std::mt19937 rng(6);
    while (frame.size() < lzx::frame_size) {
        const auto &u = (rng() & 1) ? unit_a : unit_b;
        frame.insert(frame.end(), u.begin(), u.end());
        frame.push_back(uint8_t(rng()));
    }
    frame.resize(lzx::frame_size);
    parse_outcome out = check_frame(frame);
    size_t repeats = 0;
    for (const item &it : out.items) repeats += it.length > 1 && it.offset_code < 3;
    EXPECT_GT(repeats, out.items.size() / 10);
}

TEST(parser, LargestDistanceIsWindowMinusThree) {
    // A random block repeated 32700 bytes on is found; expensive literals
    // make every match pay.
    std::vector<uint8_t> frame = random_bytes(lzx::frame_size, 7, 200);
    std::copy(frame.begin(), frame.begin() + 60, frame.begin() + 32700);
    parse_outcome out = check_frame(frame, 15, 40);
    bool found = false;
    for (const item &it : out.items) found |= it.length > 1 && it.offset_code == 32700 + 2;
    EXPECT_TRUE(found);
    // Exactly 32765 back, as a repeat offset left by an earlier block.
    for (uint32_t i = 0; i < 3; i++) frame[i] = frame[32765 + i] = uint8_t(250 + i);
    lzx::parser p(15);
    p.load_span(frame.data(), lzx::frame_size);
    lzx::costs prices = start_prices();
    for (uint32_t c = 0; c < 256; c++) prices.main[c] = 40 * lzx::price_scale;
    const uint32_t far_repeats[3] = {5, 32765, 7};
    parse_outcome tail;
    check_parse(p, frame, 32765, lzx::frame_size, far_repeats, prices, 32765, &tail);
    ASSERT_EQ(tail.items.size(), 1u);
    EXPECT_EQ(tail.items[0].offset_code, 1u);
    // 32766 or 32767 back is beyond the 32 KiB window, explicit or repeated.
    std::vector<uint8_t> far = random_bytes(lzx::frame_size, 8, 200);
    for (uint32_t i = 0; i < 2; i++) far[i] = far[32766 + i] = uint8_t(250 + i);
    check_frame(far, 15, 40);
    p.load_span(far.data(), lzx::frame_size);
    const uint32_t too_far[3] = {32766, 32766, 32766};
    check_parse(p, far, 32766, lzx::frame_size, too_far, prices, 32765, &tail);
    EXPECT_EQ(tail.items.size(), 2u);
    // A larger window allows them (and the replay checks its own bound).
    check_frame(far, 16, 40);
    lzx::parser wide(16);
    wide.load_span(far.data(), lzx::frame_size);
    check_parse(wide, far, 32766, lzx::frame_size, too_far, prices, 65533, &tail);
    EXPECT_EQ(tail.items.size(), 1u);
}

TEST(parser, SubRangesStartFromGivenRepeats) {
    std::vector<uint8_t> frame = text_bytes(lzx::frame_size, 9);
    lzx::parser p(15);
    p.load_span(frame.data(), uint32_t(frame.size()));
    lzx::costs prices = start_prices();
    uint32_t repeats[3] = {1, 1, 1};
    const uint32_t cuts[] = {0, 1000, 1001, 9000, 20000, 32767, 32768};
    for (size_t i = 0; i + 1 < std::size(cuts); i++) {
        parse_outcome out;
        check_parse(p, frame, cuts[i], cuts[i + 1], repeats, prices, 32765, &out);
        std::memcpy(repeats, out.end_repeats, sizeof repeats);
    }
    // Repeats from the caller, including ones that reach before the frame start here.
    const uint32_t odd[3] = {5000, 7, 3};
    check_parse(p, frame, 100, 9000, odd, prices, 32765);
    const uint32_t big[3] = {20000, 30000, 1};
    check_parse(p, frame, 25000, 32768, big, prices, 32765);
}

TEST(parser, RepeatedPassesUseNewPrices) {
    // Short matches only (long ones are taken whatever the prices).
    std::vector<uint8_t> frame = random_bytes(lzx::frame_size, 10, 4);
    lzx::parser p(15);
    p.load_span(frame.data(), uint32_t(frame.size()));
    lzx::costs prices = start_prices();
    parse_outcome first;
    check_parse(p, frame, 0, lzx::frame_size, fresh, prices, 32765, &first);
    EXPECT_GT(first.price, 0u);
    // Literals made free: the best parse is all literals.
    for (uint32_t c = 0; c < 256; c++) prices.main[c] = 0;
    parse_outcome out;
    check_parse(p, frame, 0, lzx::frame_size, fresh, prices, 32765, &out);
    EXPECT_EQ(out.price, 0u);
    // Absurd prices must not overflow the path costs.
    for (auto &m : prices.main) m = UINT32_MAX;
    check_parse(p, frame, 0, lzx::frame_size, fresh, prices, 32765);
    expect_same_parse_both_ways(frame, 15, 0, lzx::frame_size, fresh, prices);
    // Aligned prices must be honoured too.
    prices = start_prices();
    prices.aligned_block = true;
    check_parse(p, frame, 0, lzx::frame_size, fresh, prices, 32765);
}

// Pages copied from a template with small edits, as generated
// documentation repeats its markup: long copies at R0 with shorter matches
// inside them, which the parser passes over, and edits that end them.
TEST(parser, EditedCopiesOfAPage) {
    const std::vector<uint8_t> page = text_bytes(3000, 12);
    std::mt19937 rng(13);
    std::vector<uint8_t> span;
    while (span.size() < 2 * lzx::frame_size) {
        std::vector<uint8_t> copy = page;
        for (int edit = 0; edit < 4; edit++) copy[rng() % copy.size()] = uint8_t('0' + rng() % 10);
        span.insert(span.end(), copy.begin(), copy.end());
    }
    span.resize(2 * lzx::frame_size);
    lzx::parser p(16);
    p.load_span(span.data(), uint32_t(span.size()));
    lzx::costs prices = start_prices(16);
    parse_outcome out;
    check_parse(p, span, 0, uint32_t(span.size()), fresh, prices, 65533, &out);
    // Twenty copies cost about what the page does alone: 5 bits per byte
    // of it, where the span as words would take 3 bits per byte of its own.
    EXPECT_LT(out.price, uint64_t(page.size()) * 5 * lzx::price_scale);
    const uint32_t odd[3] = {3000, 6000, 17};
    check_parse(p, span, 4321, 50000, odd, prices, 65533);
    expect_same_parse_both_ways(span, 16, 0, uint32_t(span.size()), fresh, prices);
    expect_same_parse_both_ways(span, 16, 4321, 50000, odd, prices, 4);
}

TEST(parser, RandomizedSweep) {
    std::mt19937 rng(11);
    for (int round = 0; round < 40; round++) {
        uint32_t size = 1 + rng() % lzx::frame_size;
        std::vector<uint8_t> frame;
        while (frame.size() < size) {
            switch (rng() % 4) {
            case 0: frame.push_back(uint8_t(rng())); break;
            case 1: frame.insert(frame.end(), 1 + rng() % 300, uint8_t(rng() % 3)); break;
            default:
                if (!frame.empty()) {
                    uint32_t d = 1 + rng() % frame.size();
                    uint32_t n = 2 + rng() % 400;
                    for (uint32_t i = 0; i < n; i++) frame.push_back(frame[frame.size() - d]);
                }
            }
        }
        frame.resize(size);
        uint32_t bits = 15 + rng() % 3;
        lzx::parser p(bits);
        p.load_span(frame.data(), size);
        lzx::costs prices = start_prices(bits);
        for (auto &m : prices.main) m = 1 + rng() % 16;
        for (auto &l : prices.length) l = 1 + rng() % 16;
        for (auto &a : prices.aligned) a = 1 + rng() % 7;
        prices.aligned_block = rng() & 1;
        uint32_t begin = rng() % size, end = begin + 1 + rng() % (size - begin);
        uint32_t start[3] = {uint32_t(1 + rng() % 40000), uint32_t(1 + rng() % 50), 1};
        SCOPED_TRACE("round " + std::to_string(round));
        check_parse(p, frame, begin, end, start, prices, (1u << bits) - 3);
        check_parse(p, frame, 0, size, fresh, prices, (1u << bits) - 3);
        // The quick parse, which takes short matches whole, is exact too.
        const uint32_t quick = 2 + rng() % 8;
        check_parse(p, frame, begin, end, start, prices, (1u << bits) - 3, nullptr, quick);
        expect_same_parse_both_ways(frame, bits, begin, end, start, prices);
        expect_same_parse_both_ways(frame, bits, begin, end, start, prices, quick);
    }
}

}  // namespace
