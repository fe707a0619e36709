#include "block_splitter.h"

#include <algorithm>

namespace lzx {

namespace {

void add_stats(const block_stats &a, const block_stats &b, block_stats &sum) {
    for (uint32_t s = 0; s < max_main_symbols; s++) sum.main[s] = a.main[s] + b.main[s];
    for (uint32_t s = 0; s < num_length_symbols; s++) sum.length[s] = a.length[s] + b.length[s];
    for (uint32_t s = 0; s < num_aligned_symbols; s++) sum.aligned[s] = a.aligned[s] + b.aligned[s];
    sum.verbatim_footer_bits = a.verbatim_footer_bits + b.verbatim_footer_bits;
    sum.aligned_plain_bits = a.aligned_plain_bits + b.aligned_plain_bits;
    sum.aligned_footers = a.aligned_footers + b.aligned_footers;
}

}  // namespace

block_splitter::block_splitter()
    : scratch_(std::make_unique<block_plan>()), merged_(std::make_unique<block_stats>()) {}

block_splitter::~block_splitter() = default;

uint64_t block_splitter::bits_of(const block_encoder &encoder, const block_stats &stats, size_t first,
                                 uint32_t start, uint32_t size) {
    encoder.plan_from_stats(stats, start, size, 0, *scratch_, true);
    scratch_first_ = first;
    scratch_size_ = size;
    return scratch_->best_bits;
}

void block_splitter::split(const block_encoder &encoder, const item *items, size_t count, uint32_t piece_size,
                           std::vector<size_t> &starts) {
    // A piece ends on the first item boundary at least piece_size bytes on,
    // or at the frame's end: no item runs across one.
    pieces_.clear();
    uint32_t start = encoder.position();
    for (size_t first = 0; first < count;) {
        piece p{first, start, 0, 0, std::make_unique<block_stats>()};
        clear_stats(*p.stats);
        const uint32_t to_frame_end = frame_size - start % frame_size;
        first += add_items_covering(items + first, count - first, std::min(piece_size, to_frame_end), *p.stats,
                                    p.size);
        p.bits = bits_of(encoder, *p.stats, p.first_item, p.start, p.size);
        start += p.size;
        pieces_.push_back(std::move(p));
    }
    // Greedy: merge the neighbours that save the most, while any pair saves.
    std::vector<int64_t> saving(pieces_.size(), 0);
    auto saving_of = [&](size_t k) {
        add_stats(*pieces_[k].stats, *pieces_[k + 1].stats, *merged_);
        uint64_t together = bits_of(encoder, *merged_, pieces_[k].first_item, pieces_[k].start,
                                    pieces_[k].size + pieces_[k + 1].size);
        return int64_t(pieces_[k].bits + pieces_[k + 1].bits) - int64_t(together);
    };
    for (size_t k = 0; k + 1 < pieces_.size(); k++) saving[k] = saving_of(k);
    while (pieces_.size() > 1) {
        size_t best = 0;
        for (size_t k = 1; k + 1 < pieces_.size(); k++)
            if (saving[k] > saving[best]) best = k;
        if (saving[best] < 0) break;
        piece &left = pieces_[best];
        add_stats(*left.stats, *pieces_[best + 1].stats, *merged_);
        std::swap(left.stats, merged_);
        left.bits = left.bits + pieces_[best + 1].bits - uint64_t(saving[best]);
        left.size += pieces_[best + 1].size;
        pieces_.erase(pieces_.begin() + std::ptrdiff_t(best) + 1);
        saving.erase(saving.begin() + std::ptrdiff_t(best) + 1);
        if (best > 0) saving[best - 1] = saving_of(best - 1);
        if (best + 1 < pieces_.size()) saving[best] = saving_of(best);
    }
    // The last plan made is nearly always the whole span's when it stays
    // one block; make sure.
    if (pieces_.size() == 1 && (scratch_first_ != 0 || scratch_size_ != pieces_[0].size))
        bits_of(encoder, *pieces_[0].stats, 0, pieces_[0].start, pieces_[0].size);
    starts.clear();
    for (const piece &p : pieces_) starts.push_back(p.first_item);
}

}  // namespace lzx
