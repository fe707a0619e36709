// Finds the matches of every position of one span, once, for the parser.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace lzx {

struct match {
    uint16_t length;
    uint16_t distance;
};

// Matches of one span, kept so that several parses with different prices
// reuse them. Each position lists its matches by increasing length and
// increasing distance: a match serves the lengths above the one before it.
// Positions skipped inside a long match list only its remainder.
struct match_cache {
    std::vector<match> matches;  // room beyond first.back() is kept for the next span
    std::vector<uint32_t> first;  // matches of position p: [first[p], first[p + 1])
};

// Binary trees of the span's suffixes, one tree per 4-byte hash, plus the
// latest position of each 2-byte and 3-byte prefix for the short matches.
class match_finder {
  public:
    // Matches reach at most `max_distance` back. A match of `nice_length`
    // ends the search; `max_depth` bounds the tree nodes visited per
    // position. The positions covered by a match of `skip_length` or more
    // are only inserted, and list the rest of that match as their own.
    match_finder(uint32_t max_distance, uint32_t nice_length, uint32_t max_depth, uint32_t skip_length);

    void find_all(const uint8_t *data, uint32_t size, match_cache &cache);

  private:
    struct match_list;

    // Inserts `pos` into the tree of hash `h4`; when `record` is set,
    // appends its matches longer than `best` to `lists`. Returns the longest
    // length found.
    template <bool record, bool whole_reach>
    uint32_t advance(const uint8_t *data, uint32_t size, uint32_t pos, uint32_t h4, uint32_t best,
                     match_list *lists);
    // advance(), through its cheaper loop while every earlier position is in reach.
    template <bool record>
    uint32_t insert(const uint8_t *data, uint32_t size, uint32_t pos, uint32_t h4, uint32_t best,
                    match_list *lists);

    uint32_t max_distance_;
    uint32_t nice_length_;
    uint32_t max_depth_;
    uint32_t skip_length_;
    std::vector<uint16_t> hash2_;
    std::vector<uint16_t> hash3_;
    std::vector<uint16_t> hash4_;
    std::vector<uint16_t> children_;  // smaller and greater subtree of every position
};

}  // namespace lzx
