#include "block_encoder.h"

#include <cassert>
#include <cstring>
#include <memory>

namespace lzx {

namespace {

constexpr uint32_t block_header_bits = 3 + 24;

// Header, then zero bits to the word boundary (at least one), then R0..R2.
uint64_t uncompressed_bits(uint32_t size, uint32_t bits_in_word) {
    uint32_t after_header = (bits_in_word + block_header_bits) % 16;
    uint32_t padding = 16 - after_header;
    return block_header_bits + padding + 96 + 8ull * (size + (size & 1));
}

void write_token(const block_codes &codes, bool aligned, const item &it, bit_writer &out) {
    if (it.length == 1) {
        out.put(codes.main_codes[it.literal], codes.main_lengths[it.literal]);
        return;
    }
    match_symbols m = symbols_of(it);
    out.put(codes.main_codes[m.main], codes.main_lengths[m.main]);
    if (m.length >= 0) out.put(codes.length_codes[m.length], codes.length_lengths[m.length]);
    uint32_t bits = footer_bits(m.slot);
    if (aligned && bits >= 3) {
        out.put(m.footer >> 3, bits - 3);
        uint32_t low = m.footer & 7;
        out.put(codes.aligned_codes[low], codes.aligned_lengths[low]);
    } else if (bits) {
        out.put(m.footer, bits);
    }
}

}  // namespace

void block_encoder::end_frame_if_due(bit_writer &out) {
    if (position_ % frame_size != 0) return;
    out.align();
    frame_ends_.push_back(static_cast<uint32_t>(out.bit_count() / 8));
}

void block_encoder::write_tokens(const block_codes &codes, bool aligned, const item *items, size_t count,
                                 bit_writer &out) {
    uint32_t frame_end = (position_ / frame_size + 1) * frame_size;
    for (size_t i = 0; i < count; i++) {
        write_token(codes, aligned, items[i], out);
        position_ += items[i].length;
        assert(position_ <= frame_end);  // no match runs past a frame's end
        if (position_ >= frame_end) {
            end_frame_if_due(out);
            frame_end = (position_ / frame_size + 1) * frame_size;
        }
    }
}

block_encoder::block_encoder(uint32_t window_bits)
    : main_symbols_(num_chars + 8 * position_slots_for(window_bits)) {
    reset();
}

void block_encoder::reset() {
    state_.repeats[0] = state_.repeats[1] = state_.repeats[2] = 1;
    std::memset(state_.previous_main, 0, sizeof state_.previous_main);
    std::memset(state_.previous_length, 0, sizeof state_.previous_length);
    position_ = 0;
    frame_ends_.clear();
}

void block_encoder::resume(const stream_state &state) {
    state_ = state;
    position_ = 0;
    frame_ends_.clear();
}

void block_encoder::plan(const item *items, size_t count, uint32_t size, uint32_t bits_in_word,
                         block_plan &p) const {
    clear_stats(p.stats);
    add_items(items, count, p.stats);
    plan_from_stats(p.stats, position_, size, bits_in_word, p);
}

namespace {

// Rounds of pretree refinement for a plan that is written, and for an estimate.
constexpr int full_rounds = 3, quick_rounds = 1;

}  // namespace

void block_encoder::plan_from_stats(const block_stats &stats, uint32_t start, uint32_t size, uint32_t bits_in_word,
                                    block_plan &p, bool quick) const {
    build_block_lengths(stats, main_symbols_, p.codes);
    plan_segments(p, true, quick ? quick_rounds : full_rounds);
    choose_type(stats, start, size, bits_in_word, p);
}

void block_encoder::finish_plan(const block_stats &stats, uint32_t size, uint32_t bits_in_word,
                                block_plan &p) const {
    plan_segments(p, false, full_rounds - quick_rounds);
    choose_type(stats, position_, size, bits_in_word, p);
}

void block_encoder::plan_segments(block_plan &p, bool fresh, int rounds) const {
    // Main tree lengths 0..255, main 256.., length tree.
    const uint8_t *previous[3] = {state_.previous_main, state_.previous_main + num_chars, state_.previous_length};
    const uint8_t *lengths[3] = {p.codes.main_lengths, p.codes.main_lengths + num_chars, p.codes.length_lengths};
    const uint32_t counts[3] = {num_chars, main_symbols_ - num_chars, num_length_symbols};
    for (int k = 0; k < 3; k++) {
        if (fresh) {
            plan_length_segment(previous[k], lengths[k], counts[k], p.segments[k], rounds);
        } else {
            refine_length_segment(previous[k], lengths[k], counts[k], p.segments[k], rounds);
        }
    }
}

void block_encoder::choose_type(const block_stats &stats, uint32_t start, uint32_t size, uint32_t bits_in_word,
                                block_plan &p) const {
    uint64_t common = block_header_bits + p.segments[0].bits + p.segments[1].bits + p.segments[2].bits +
                      p.codes.main_bits + p.codes.length_bits;
    p.verbatim_bits = common + stats.verbatim_footer_bits;
    // An aligned tree of all zero lengths is rejected by decoders.
    p.aligned_bits = stats.aligned_footers == 0
                         ? UINT64_MAX
                         : common + 3 * num_aligned_symbols + stats.aligned_plain_bits + p.codes.aligned_bits;
    p.uncompressed_bits = uncompressed_bits(size, bits_in_word);

    p.best = block_type::verbatim;
    p.best_bits = p.verbatim_bits;
    if (p.aligned_bits < p.best_bits) {
        p.best = block_type::aligned;
        p.best_bits = p.aligned_bits;
    }
    // libmspack drops the pad byte of an odd uncompressed block that ends a
    // frame and then misreads the next frame; 7-Zip needs the byte. Such a
    // block is never written, nor one that runs across a frame end, where
    // the readers would have to pad raw bytes.
    const uint32_t in_frame = start % frame_size;
    bool odd_at_frame_end = (size & 1) && in_frame + size == frame_size;
    bool across_frames = in_frame + size > frame_size;
    if (p.uncompressed_bits < p.best_bits && !odd_at_frame_end && !across_frames) {
        p.best = block_type::uncompressed;
        p.best_bits = p.uncompressed_bits;
    }
}

void block_encoder::write(block_plan &p, const item *items, size_t count, const uint8_t *data, uint32_t size,
                          bit_writer &out) {
    advance_repeats(items, count, state_.repeats);
    out.put(static_cast<uint32_t>(p.best), 3);
    out.put(size, 24);
    if (p.best == block_type::uncompressed) {
        // The decoder loads R0..R2 from here; give it the offsets the
        // following blocks were parsed with.
        out.put(0, 16 - out.bits_in_word());
        for (uint32_t r : state_.repeats) {
            uint8_t le[4] = {uint8_t(r), uint8_t(r >> 8), uint8_t(r >> 16), uint8_t(r >> 24)};
            out.put_bytes(le, 4);
        }
        out.put_bytes(data, size);
        const uint8_t pad = 0;
        if (size & 1) out.put_bytes(&pad, 1);
        position_ += size;
        end_frame_if_due(out);
        return;
    }
    bool aligned = p.best == block_type::aligned;
    assign_block_codes(main_symbols_, p.codes);
    if (aligned)
        for (uint32_t s = 0; s < num_aligned_symbols; s++) out.put(p.codes.aligned_lengths[s], 3);
    for (const length_segment &segment : p.segments) write_length_segment(segment, out);
    write_tokens(p.codes, aligned, items, count, out);
    std::memcpy(state_.previous_main, p.codes.main_lengths, main_symbols_);
    std::memcpy(state_.previous_length, p.codes.length_lengths, num_length_symbols);
}

void block_encoder::encode(const item *items, size_t count, const uint8_t *data, uint32_t size, bit_writer &out) {
    auto p = std::make_unique<block_plan>();
    plan(items, count, size, out.bits_in_word(), *p);
    write(*p, items, count, data, size, out);
}

}  // namespace lzx
