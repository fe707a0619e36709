#include "frame_compressor.h"

#include "bit_writer.h"

namespace lzx {

namespace {

constexpr int parse_passes = 3;

// Whether routing the low footer bits through an aligned tree would pay.
bool aligned_pays(const block_stats &stats, const block_codes &codes) {
    if (stats.aligned_footers == 0) return false;
    uint64_t bits = 3 * num_aligned_symbols + stats.aligned_plain_bits;
    for (uint32_t s = 0; s < num_aligned_symbols; s++) bits += uint64_t(stats.aligned[s]) * codes.aligned_lengths[s];
    return bits < stats.verbatim_footer_bits;
}

}  // namespace

frame_compressor::frame_compressor(uint32_t window_bits)
    : window_bits_(window_bits),
      parser_(window_bits),
      encoder_(window_bits),
      prices_(std::make_unique<costs>()),
      stats_(std::make_unique<block_stats>()),
      codes_(std::make_unique<block_codes>()) {
    items_.reserve(frame_size);
}

frame_compressor::~frame_compressor() = default;

void frame_compressor::parse_iterated(uint32_t begin, uint32_t end, const uint32_t start_repeats[3]) {
    parser::initial_costs(window_bits_, *prices_);
    uint32_t end_repeats[3];
    for (int pass = 0; pass < parse_passes; pass++) {
        parser_.parse(*prices_, begin, end, start_repeats, items_, end_repeats);
        if (pass + 1 == parse_passes) break;
        clear_stats(*stats_);
        add_items(items_.data(), items_.size(), *stats_);
        build_block_codes(*stats_, encoder_.main_symbols(), *codes_);
        prices_from_codes(*codes_, encoder_.main_symbols(), aligned_pays(*stats_, *codes_), *prices_);
    }
}

void frame_compressor::compress(const uint8_t *data, bool split_blocks, std::vector<uint8_t> &out) {
    (void)split_blocks;
    bit_writer bits(out);
    encoder_.reset();
    bits.put(0, 1);  // no E8 call translation
    parser_.load_frame(data, frame_size);
    parse_iterated(0, frame_size, encoder_.repeats());
    encoder_.encode(items_.data(), items_.size(), data, frame_size, bits);
    bits.align();
}

}  // namespace lzx
