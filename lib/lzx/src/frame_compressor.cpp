#include "frame_compressor.h"

namespace lzx {

namespace {

constexpr int parse_passes = 2;
// Block splitting starts from pieces of this many bytes.
constexpr uint32_t split_piece_size = 8192;
// Re-parse every block of a split frame under its own code.
constexpr bool reparse_blocks = true;

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
        prices_from_items();
    }
}

void frame_compressor::prices_from_items() {
    clear_stats(*stats_);
    add_items(items_.data(), items_.size(), *stats_);
    build_block_lengths(*stats_, encoder_.main_symbols(), *codes_);
    prices_from_codes(*codes_, encoder_.main_symbols(), aligned_pays(*stats_, *codes_), *prices_);
}

void frame_compressor::write_split(const uint8_t *data, bit_writer &bits) {
    splitter_.split(encoder_, items_.data(), items_.size(), split_piece_size, block_starts_);
    block_starts_.push_back(items_.size());
    uint32_t position = 0;
    for (size_t k = 0; k + 1 < block_starts_.size(); k++) {
        const item *first = items_.data() + block_starts_[k];
        size_t count = block_starts_[k + 1] - block_starts_[k];
        uint32_t size = 0;
        for (size_t i = 0; i < count; i++) size += first[i].length;
        if (reparse_blocks && block_starts_.size() > 2) {
            // The block's own code prices a fresh parse of its bytes.
            clear_stats(*stats_);
            add_items(first, count, *stats_);
            build_block_lengths(*stats_, encoder_.main_symbols(), *codes_);
            prices_from_codes(*codes_, encoder_.main_symbols(), aligned_pays(*stats_, *codes_), *prices_);
            uint32_t end_repeats[3];
            parser_.parse(*prices_, position, position + size, encoder_.repeats(), block_items_, end_repeats);
            encoder_.encode(block_items_.data(), block_items_.size(), data + position, size, bits);
        } else {
            encoder_.encode(first, count, data + position, size, bits);
        }
        position += size;
    }
}

void frame_compressor::compress(const uint8_t *data, bool split_blocks, std::vector<uint8_t> &out) {
    bit_writer bits(out);
    encoder_.reset();
    bits.put(0, 1);  // no E8 call translation
    parser_.load_frame(data, frame_size);
    parse_iterated(0, frame_size, encoder_.repeats());
    if (split_blocks) {
        write_split(data, bits);
    } else {
        encoder_.encode(items_.data(), items_.size(), data, frame_size, bits);
    }
    bits.align();
}

}  // namespace lzx
