#include "span_compressor.h"

#include <algorithm>
#include <cassert>

namespace lzx {

namespace {

// Text has next to no control bytes but tabs and line ends; machine code
// and binary tables are full of small numbers. NUL does not count: the last
// frame is padded with it.
constexpr uint32_t binary_control_bytes_per_frame = 400;

bool looks_binary(const uint8_t *data, uint32_t size) {
    uint32_t control = 0;
    for (uint32_t i = 0; i < size; i++) {
        const uint8_t c = data[i];
        control += c < 0x20 && c != 0 && c != '\t' && c != '\n' && c != '\r';
    }
    return control > binary_control_bytes_per_frame * (size / frame_size);
}

// How hard a span is worked.
struct effort {
    // The first parse, priced by guesses, only gathers statistics: it takes
    // every match of this many bytes or more whole, which costs a fraction
    // of a full parse.
    uint32_t first_whole_length;
    // Then full parses, each priced by the one before.
    int full_parses;
    // Block splitting starts from pieces of this many bytes, so that a
    // stretch of another kind in the middle of a span gets its own block.
    uint32_t split_piece;
    // Re-parse every block of a split span under its own code.
    bool reparse_blocks;
};

// Text: matches of 4 bytes or more taken whole first, then two full parses:
// on HTML 0.14% smaller than two full parses without the quick one, for
// about 5% more time.
constexpr effort text_effort{4, 2, 8192, true};
// Binary data lives on short matches, and its later parses come out smaller
// when the first takes every match whole (shared libraries 0.4%, message
// catalogues 0.6%, compiled Python 0.4%; on HTML it would cost 0.2%). It
// changes kind more often, and eighths pay as pieces (fonts 0.3%, message
// catalogues 0.25%, in no time that could be measured).
constexpr effort binary_frame_effort{2, 2, 4096, true};
// Two frames of binary data: the second full parse and the re-parses of
// split blocks gain 0.5% (/usr/lib/python3.11: libraries and compiled
// Python) for 45% more time, which the output of wimlib's strongest level,
// 1.4% bigger there, leaves room to spare. A span of one frame keeps the
// settings above, as the 32 KiB window has always had them.
constexpr effort binary_span_effort{2, 1, 4096, false};

// Whether routing the low footer bits through an aligned tree would pay.
bool aligned_pays(const block_stats &stats, const block_codes &codes) {
    if (stats.aligned_footers == 0) return false;
    uint64_t bits = 3 * num_aligned_symbols + stats.aligned_plain_bits;
    for (uint32_t s = 0; s < num_aligned_symbols; s++) bits += uint64_t(stats.aligned[s]) * codes.aligned_lengths[s];
    return bits < stats.verbatim_footer_bits;
}

}  // namespace

span_compressor::span_compressor(uint32_t window_bits)
    : window_bits_(window_bits),
      parser_(window_bits),
      encoder_(window_bits),
      prices_(std::make_unique<costs>()),
      stats_(std::make_unique<block_stats>()),
      codes_(std::make_unique<block_codes>()),
      plan_(std::make_unique<block_plan>()),
      other_plan_(std::make_unique<block_plan>()) {
    items_.reserve(max_span_size);
}

span_compressor::~span_compressor() = default;

bool span_compressor::parse_iterated(uint32_t begin, uint32_t end, const uint32_t start_repeats[3],
                                     uint32_t first_whole_length, int full_parses) {
    parser::initial_costs(window_bits_, *prices_);
    uint32_t end_repeats[3];
    for (int pass = 0; pass <= full_parses; pass++) {
        parser_.parse(*prices_, begin, end, start_repeats, items_, end_repeats,
                      pass == 0 ? first_whole_length : parser::take_whole_length);
        if (pass == full_parses) break;
        prices_from_items(items_.data(), items_.size());
        // Already compressed data (archives, images): when the quick parse's
        // symbols alone take more bits than the bytes do, the span is stored
        // as it is whatever the full parses find. Skipping them makes such
        // data about twice as fast, with the same output on every tree tried.
        const uint64_t symbol_bits = codes_->main_bits + codes_->length_bits + stats_->verbatim_footer_bits;
        if (pass == 0 && symbol_bits > 8 * uint64_t(end - begin)) return false;
    }
    return true;
}

void span_compressor::prices_from_items(const item *items, size_t count) {
    clear_stats(*stats_);
    add_items(items, count, *stats_);
    build_block_lengths(*stats_, encoder_.main_symbols(), *codes_);
    prices_from_stats(*stats_, *codes_, encoder_.main_symbols(), aligned_pays(*stats_, *codes_), *prices_);
}

void span_compressor::write_split(const uint8_t *data, uint32_t piece_size, bool reparse_blocks, bit_writer &bits) {
    splitter_.split(encoder_, items_.data(), items_.size(), piece_size, block_starts_);
    block_starts_.push_back(items_.size());
    uint32_t first_parse_repeats[3];  // as the first parse had them
    std::copy(encoder_.repeats(), encoder_.repeats() + 3, first_parse_repeats);
    for (size_t k = 0; k + 1 < block_starts_.size(); k++) {
        const item *first = items_.data() + block_starts_[k];
        size_t count = block_starts_[k + 1] - block_starts_[k];
        uint32_t size = splitter_.block_size(k);
        const uint32_t position = encoder_.position();
        if (reparse_blocks && block_starts_.size() > 2) {
            // The block's own code prices a fresh parse of its bytes; keep
            // whichever parse comes out smaller.
            prices_from_items(first, count);
            uint32_t end_repeats[3];
            parser_.parse(*prices_, position, position + size, encoder_.repeats(), block_items_, end_repeats);
            encoder_.plan(block_items_.data(), block_items_.size(), size, bits.bits_in_word(), *other_plan_);
            // The first parse's items assume its own repeat offsets: usable
            // only while the blocks written so far left the same ones.
            bool first_parse_fits = std::equal(first_parse_repeats, first_parse_repeats + 3, encoder_.repeats());
            if (first_parse_fits) encoder_.plan(first, count, size, bits.bits_in_word(), *plan_);
            if (!first_parse_fits || other_plan_->best_bits < plan_->best_bits) {
                encoder_.write(*other_plan_, block_items_.data(), block_items_.size(), data + position, size, bits);
            } else {
                encoder_.write(*plan_, first, count, data + position, size, bits);
            }
        } else if (block_starts_.size() == 2) {
            // One block: finish the splitter's estimate of it rather than plan afresh.
            block_plan &whole = splitter_.whole_plan();
            encoder_.finish_plan(splitter_.whole_stats(), size, bits.bits_in_word(), whole);
            encoder_.write(whole, first, count, data + position, size, bits);
        } else {
            write_block(data, block_starts_[k], count, size, bits);
        }
        if (k + 2 < block_starts_.size()) advance_repeats(first, count, first_parse_repeats);  // for the next block
    }
}

void span_compressor::write_block(const uint8_t *data, size_t first, size_t count, uint32_t size,
                                  bit_writer &bits) {
    const uint32_t position = encoder_.position();
    encoder_.plan(items_.data() + first, count, size, bits.bits_in_word(), *plan_);
    encoder_.write(*plan_, items_.data() + first, count, data + position, size, bits);
}

void span_compressor::compress(const uint8_t *data, uint32_t size, const stream_state *resume, bool split_blocks,
                               std::vector<uint8_t> &out) {
    assert(size > 0 && size % frame_size == 0 && size <= max_span_size);
    bit_writer bits(out);
    if (resume) {
        encoder_.resume(*resume);
    } else {
        encoder_.reset();
        bits.put(0, 1);  // no E8 call translation
    }
    parser_.load_span(data, size);
    const effort &e = !looks_binary(data, size) ? text_effort
                      : size > frame_size       ? binary_span_effort
                                                : binary_frame_effort;
    const bool parsed_fully = parse_iterated(0, size, encoder_.repeats(), e.first_whole_length, e.full_parses);
    if (split_blocks && parsed_fully) {
        write_split(data, e.split_piece, e.reparse_blocks, bits);
    } else if (parsed_fully) {
        write_block(data, 0, items_.size(), size, bits);
    } else {
        // A block per frame, so that each can go out uncompressed.
        for (size_t first = 0, last = 0; first < items_.size(); first = last) {
            uint32_t frame_bytes = 0;
            while (last < items_.size() && frame_bytes < frame_size) frame_bytes += items_[last++].length;
            write_block(data, first, last - first, frame_bytes, bits);
        }
    }
}

}  // namespace lzx
