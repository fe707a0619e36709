// Writes one block of a frame as a verbatim, aligned offset or uncompressed
// block, whichever is smallest in exact bits.
#pragma once
#include <cstddef>
#include <cstdint>

#include "bit_writer.h"
#include "block_codes.h"
#include "code_lengths_writer.h"

namespace lzx {

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

    // Frame start: repeat offsets 1, 1, 1 and previous code lengths 0.
    void reset();

    // Sizes the block of items covering `size` bytes, as written at the
    // current position of `out` (`bits_in_word` bits into a 16-bit word).
    void plan(const item *items, size_t count, uint32_t size, uint32_t bits_in_word, block_plan &plan) const;
    // The same from counts already gathered; `quick` spends less effort on
    // the code length segments (for estimates).
    void plan_from_stats(const block_stats &stats, uint32_t size, uint32_t bits_in_word, block_plan &plan,
                         bool quick = false) const;
    // Turns a quick plan of these counts into the one plan_from_stats would
    // have made without `quick`, reusing its codes and first segments.
    void finish_plan(const block_stats &stats, uint32_t size, uint32_t bits_in_word, block_plan &plan) const;

    // Writes the block as planned (giving the plan its codes); data is its
    // `size` bytes of input.
    void write(block_plan &plan, const item *items, size_t count, const uint8_t *data, uint32_t size,
               bit_writer &out);

    // Plans and writes in one go.
    void encode(const item *items, size_t count, const uint8_t *data, uint32_t size, bit_writer &out);

    // Repeat offsets after the blocks written so far in this frame.
    const uint32_t *repeats() const { return repeats_; }
    uint32_t main_symbols() const { return main_symbols_; }

  private:
    // Plans the three length segments afresh, or refines them, `rounds` rounds.
    void plan_segments(block_plan &plan, bool fresh, int rounds) const;
    void choose_type(const block_stats &stats, uint32_t size, uint32_t bits_in_word, block_plan &plan) const;

    uint32_t main_symbols_;
    uint32_t repeats_[3];
    uint32_t frame_position_;  // bytes of the frame written so far
    uint8_t previous_main_[max_main_symbols];
    uint8_t previous_length_[num_length_symbols];
};

}  // namespace lzx
