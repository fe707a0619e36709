// Cuts a parsed frame into blocks where separate codes make it smaller.
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
    // first is 0). Starts from pieces of about `piece_size` bytes and merges
    // neighbours while one code for both is cheaper than two.
    void split(const block_encoder &encoder, const item *items, size_t count, uint32_t piece_size,
               std::vector<size_t> &starts);

  private:
    struct piece {
        size_t first_item;
        uint32_t size;
        uint64_t bits;
        std::unique_ptr<block_stats> stats;
    };
    uint64_t bits_of(const block_encoder &encoder, const block_stats &stats, uint32_t size);

    std::vector<piece> pieces_;
    std::unique_ptr<block_plan> scratch_;
    std::unique_ptr<block_stats> merged_;
};

}  // namespace lzx
