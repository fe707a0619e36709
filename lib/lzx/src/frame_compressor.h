// Compresses one 32768-byte frame as an independent LZX stream. All state
// lives in the instance, so frames can be compressed side by side.
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "block_encoder.h"
#include "block_splitter.h"
#include "bit_writer.h"
#include "parser.h"

namespace lzx {

class frame_compressor {
  public:
    explicit frame_compressor(uint32_t window_bits);
    ~frame_compressor();
    frame_compressor(const frame_compressor &) = delete;
    frame_compressor &operator=(const frame_compressor &) = delete;

    // Appends the stream for data[0..frame_size) to out, ending on a 16-bit
    // boundary. split_blocks lets the frame be cut into several blocks.
    void compress(const uint8_t *data, bool split_blocks, std::vector<uint8_t> &out);

  private:
    // Parses [begin, end) a few times, each time priced by the codes of the
    // previous parse; leaves the last parse in items_. The first, quick parse
    // takes matches of `first_whole_length` or more whole. Returns false when
    // it stopped after that one, the data being incompressible.
    bool parse_iterated(uint32_t begin, uint32_t end, const uint32_t start_repeats[3], uint32_t first_whole_length);
    // Prices from the codes that these items would get as one block.
    void prices_from_items(const item *items, size_t count);
    // Writes items_ as the blocks that come out smallest, splitting from
    // pieces of `piece_size` bytes.
    void write_split(const uint8_t *data, uint32_t piece_size, bit_writer &bits);

    uint32_t window_bits_;
    parser parser_;
    block_encoder encoder_;
    block_splitter splitter_;
    std::vector<item> items_;
    std::vector<item> block_items_;
    std::vector<size_t> block_starts_;
    std::unique_ptr<costs> prices_;
    std::unique_ptr<block_stats> stats_;
    std::unique_ptr<block_codes> codes_;
    std::unique_ptr<block_plan> plan_;
    std::unique_ptr<block_plan> other_plan_;
};

}  // namespace lzx
