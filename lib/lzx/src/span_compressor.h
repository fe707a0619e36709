// Compresses one span: up to two frames of a reset unit, starting the unit's
// stream or going on with it. All state lives in the instance, so spans of
// different units can be compressed side by side.
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "bit_writer.h"
#include "block_encoder.h"
#include "block_splitter.h"
#include "parser.h"

namespace lzx {

class span_compressor {
  public:
    explicit span_compressor(uint32_t window_bits);
    ~span_compressor();
    span_compressor(const span_compressor &) = delete;
    span_compressor &operator=(const span_compressor &) = delete;

    // Appends the stream for data[0..size) to out: whole frames, at most
    // max_span_size bytes, each frame ending on a 16-bit boundary. With
    // `resume` null the span starts a stream; otherwise it goes on from the
    // state the span before it left. split_blocks lets the span be cut into
    // several blocks.
    void compress(const uint8_t *data, uint32_t size, const stream_state *resume, bool split_blocks,
                  std::vector<uint8_t> &out);

    // After compress: where the next span of the unit goes on from, and the
    // bytes of `out` at the end of each frame.
    const stream_state &state() const { return encoder_.state(); }
    const std::vector<uint32_t> &frame_ends() const { return encoder_.frame_ends(); }

  private:
    // Parses [begin, end) quickly, then `full_parses` times, each time priced
    // by the codes of the parse before; leaves the last parse in items_. The
    // quick parse takes matches of `first_whole_length` or more whole.
    // Returns false when it stopped after that one, the data being
    // incompressible.
    bool parse_iterated(uint32_t begin, uint32_t end, const uint32_t start_repeats[3], uint32_t first_whole_length,
                        int full_parses);
    // Prices from the codes that these items would get as one block.
    void prices_from_items(const item *items, size_t count);
    // Writes items_ as the blocks that come out smallest, splitting from
    // pieces of `piece_size` bytes; with `reparse_blocks` each block of a
    // split is parsed again under its own code.
    void write_split(const uint8_t *data, uint32_t piece_size, bool reparse_blocks, bit_writer &bits);
    // Writes items_ from `first` on as one block of `size` bytes.
    void write_block(const uint8_t *data, size_t first, size_t count, uint32_t size, bit_writer &bits);

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
