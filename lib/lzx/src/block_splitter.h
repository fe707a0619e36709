// Cuts a parsed span into blocks where separate codes make it smaller.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "block_encoder.h"

namespace lzx {

class block_splitter {
  public:
    block_splitter();
    ~block_splitter();

    // Fills `starts` with the item index of every block's first item (the
    // first is 0); the items begin at the encoder's current position. Starts
    // from pieces of about `piece_size` bytes, none across a frame end, and
    // merges neighbours while one code for both is cheaper than two.
    void split(const block_encoder &encoder, const item *items, size_t count, uint32_t piece_size,
               std::vector<size_t> &starts);

    // Bytes in block k of the last split.
    uint32_t block_size(size_t k) const { return pieces_[k].size; }
    // When the last split left one block: its counts, and its quick plan
    // for block_encoder::finish_plan.
    const block_stats &whole_stats() const { return *pieces_[0].stats; }
    block_plan &whole_plan() { return *scratch_; }

  private:
    struct piece {
        size_t first_item;
        uint32_t start;  // bytes into the span
        uint32_t size;
        uint64_t bits;
        std::unique_ptr<block_stats> stats;
    };
    // Quick size of the block starting at item `first`, `start` bytes into
    // the span, planned in scratch_.
    uint64_t bits_of(const block_encoder &encoder, const block_stats &stats, size_t first, uint32_t start,
                     uint32_t size);

    std::vector<piece> pieces_;
    std::unique_ptr<block_plan> scratch_;
    size_t scratch_first_ = 0;  // the block scratch_ was planned for
    uint32_t scratch_size_ = 0;
    std::unique_ptr<block_stats> merged_;
};

}  // namespace lzx
