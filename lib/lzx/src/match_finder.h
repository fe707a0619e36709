// Finds the matches of every position of one frame, once, for the parser.
#pragma once
#include <cstdint>
#include <vector>

namespace lzx {

struct match {
    uint16_t length;
    uint16_t distance;
};

// Matches of one frame, kept so that several parses with different prices
// reuse them. Each position lists its matches by increasing length (and so
// by increasing distance); positions skipped inside a long match list none.
struct match_cache {
    std::vector<match> matches;
    std::vector<uint32_t> first;  // matches of position p: [first[p], first[p + 1])
};

class match_finder {
  public:
    // Matches are at most `max_distance` back and `nice_length` decides
    // when a match is long enough to stop searching and skip over it.
    match_finder(uint32_t max_distance, uint32_t nice_length, uint32_t max_depth);

    void find_all(const uint8_t *data, uint32_t size, match_cache &cache);

    uint32_t nice_length() const { return nice_length_; }

  private:
    uint32_t max_distance_;
    uint32_t nice_length_;
    uint32_t max_depth_;
    std::vector<int32_t> head_;
    std::vector<int32_t> chain_;
};

}  // namespace lzx
