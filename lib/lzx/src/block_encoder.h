// Writes one block of a span as a verbatim, aligned offset or uncompressed
// block, whichever is smallest in exact bits.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "bit_writer.h"
#include "block_codes.h"
#include "code_lengths_writer.h"

namespace lzx {

// What a stream carries from one span to the next within a reset unit.
struct stream_state {
    uint32_t repeats[num_repeat_offsets];
    uint8_t previous_main[max_main_symbols];
    uint8_t previous_length[num_length_symbols];
};

enum class block_type : uint32_t { verbatim = 1, aligned = 2, uncompressed = 3 };

// Everything needed to write a block, with its size in bits for each type.
struct block_plan {
    block_stats stats;  // filled by plan(); plans from given counts leave it alone
    block_codes codes;
    length_segment segments[3];  // main 0..255, main 256.., length tree
    uint64_t verbatim_bits;
    uint64_t aligned_bits;       // UINT64_MAX when the block has no 3+ bit footer
    uint64_t uncompressed_bits;  // at the bit position the plan was made for
    block_type best;
    uint64_t best_bits;
};

class block_encoder {
  public:
    explicit block_encoder(uint32_t window_bits);

    // A span that starts a stream: repeat offsets 1, 1, 1 and previous code
    // lengths 0.
    void reset();
    // A span that goes on with the stream that `state` ended.
    void resume(const stream_state &state);
    // The stream as the blocks written so far leave it.
    const stream_state &state() const { return state_; }

    // Sizes the block of items covering `size` bytes, as written at the
    // current position of `out` (`bits_in_word` bits into a 16-bit word).
    void plan(const item *items, size_t count, uint32_t size, uint32_t bits_in_word, block_plan &plan) const;
    // The same from counts already gathered, for a block that begins `start`
    // bytes into the span; `quick` spends less effort on the code length
    // segments (for estimates).
    void plan_from_stats(const block_stats &stats, uint32_t start, uint32_t size, uint32_t bits_in_word,
                         block_plan &plan, bool quick = false) const;
    // Turns a quick plan of these counts into the one plan_from_stats would
    // have made without `quick`, reusing its codes and first segments; for a
    // block at the current position.
    void finish_plan(const block_stats &stats, uint32_t size, uint32_t bits_in_word, block_plan &plan) const;

    // Writes the block as planned (giving the plan its codes); data is its
    // `size` bytes of input. Pads to a 16-bit boundary at every frame end
    // that the block reaches, as decoders expect.
    void write(block_plan &plan, const item *items, size_t count, const uint8_t *data, uint32_t size,
               bit_writer &out);

    // Plans and writes in one go.
    void encode(const item *items, size_t count, const uint8_t *data, uint32_t size, bit_writer &out);

    // Repeat offsets after the blocks written so far.
    const uint32_t *repeats() const { return state_.repeats; }
    uint32_t main_symbols() const { return main_symbols_; }
    // Bytes of the span written so far.
    uint32_t position() const { return position_; }
    // Bytes of output at the end of each frame written since the span began.
    const std::vector<uint32_t> &frame_ends() const { return frame_ends_; }

  private:
    // Plans the three length segments afresh, or refines them, `rounds` rounds.
    void plan_segments(block_plan &plan, bool fresh, int rounds) const;
    void choose_type(const block_stats &stats, uint32_t start, uint32_t size, uint32_t bits_in_word,
                     block_plan &plan) const;
    // Writes the tokens, padding at the frame ends among them.
    void write_tokens(const block_codes &codes, bool aligned, const item *items, size_t count, bit_writer &out);
    // Notes a frame end at `position_` bytes into the span.
    void end_frame_if_due(bit_writer &out);

    uint32_t main_symbols_;
    stream_state state_;
    uint32_t position_ = 0;  // bytes of the span written so far
    std::vector<uint32_t> frame_ends_;
};

}  // namespace lzx
