// Near-optimal parsing of one span into literals and matches.
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "lzx_format.h"

namespace lzx {

class match_finder;

// Turns one span into items. No match reaches before the span's first byte
// (a span that continues a stream has no history), and none runs past the
// end of a frame: decoders produce whole frames.
class parser {
  public:
    // `wide_relax` allows vector instructions where the processor has them;
    // the output is the same either way.
    explicit parser(uint32_t window_bits, bool wide_relax = true);
    ~parser();
    parser(const parser &) = delete;
    parser &operator=(const parser &) = delete;

    // Takes the span (size <= max_span_size) and finds its matches once, so
    // that parse() can run several times with different prices.
    void load_span(const uint8_t *data, uint32_t size);

    // Matches this long are taken whole by default: the positions they cover
    // are not searched.
    static constexpr uint32_t take_whole_length = 128;

    // Replaces items with the cheapest parse of the loaded span [begin, end)
    // that it finds under these prices, starting from repeat offsets
    // `start_repeats` (1, 1, 1 at the start of a stream). Returns the repeat offsets
    // in force after the last item in `end_repeats`. A match of `whole_length`
    // or more is taken whole; a low one makes a quick, rougher parse.
    void parse(const costs &prices, uint32_t begin, uint32_t end, const uint32_t start_repeats[3],
               std::vector<item> &items, uint32_t end_repeats[3], uint32_t whole_length = take_whole_length);

    // Prices to start from before any code has been built.
    static void initial_costs(uint32_t window_bits, costs &prices);

  private:
    struct state;
    std::unique_ptr<state> state_;
};

}  // namespace lzx
