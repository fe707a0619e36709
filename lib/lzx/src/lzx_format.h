// Constants of the LZX bitstream as the ITS container carries it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <utility>

namespace lzx {

inline constexpr uint32_t frame_size = 32768;
// A span: the frames of one reset unit that one compressor takes at a time.
// Two frames are the whole unit of the 64 KiB window; longer units go as
// several spans, each continuing the stream of the one before.
inline constexpr uint32_t max_span_frames = 2;
inline constexpr uint32_t max_span_size = max_span_frames * frame_size;
// Distances and offset codes within a span fit 16 bits.
inline constexpr uint32_t max_span_distance = max_span_size - 3;
inline constexpr uint32_t min_match = 2;
inline constexpr uint32_t max_match = 257;
inline constexpr uint32_t num_chars = 256;
inline constexpr uint32_t num_primary_lengths = 7;    // lengths 2..8 live in the main symbol
inline constexpr uint32_t num_length_symbols = 249;   // length tree: L - 9 for L >= 9
inline constexpr uint32_t num_aligned_symbols = 8;
inline constexpr uint32_t num_repeat_offsets = 3;
inline constexpr uint32_t max_position_slots = 50;   // window bits 21
inline constexpr uint32_t max_main_symbols = num_chars + 8 * max_position_slots;

inline constexpr uint32_t main_max_code_length = 16;
inline constexpr uint32_t length_max_code_length = 16;
inline constexpr uint32_t pretree_max_code_length = 15;
inline constexpr uint32_t aligned_max_code_length = 7;

// Position slots for window bits 15..21.
inline constexpr uint32_t position_slots_for(uint32_t window_bits) {
    constexpr uint32_t slots[] = {30, 32, 34, 36, 38, 42, 50};
    return slots[window_bits - 15];
}

// Extra bits after the slot of a formatted offset.
inline constexpr uint32_t footer_bits(uint32_t slot) {
    if (slot < 4) return 0;
    if (slot < 36) return (slot - 2) / 2;
    return 17;
}

// Smallest formatted offset of each slot: base[s + 1] = base[s] + 2^footer_bits(s).
struct slot_base_table {
    uint32_t base[max_position_slots + 1];
    constexpr slot_base_table() : base{} {
        for (uint32_t s = 0; s < max_position_slots; s++) base[s + 1] = base[s] + (1u << footer_bits(s));
    }
};
inline constexpr slot_base_table slot_bases{};

// Slot of a formatted offset from 2 up to slot 36: slots pair up per power
// of two, the top bit picks the pair, the bit below it the half. Offsets
// within a span (below 2^16) never get further.
inline uint32_t paired_slot_of(uint32_t formatted_offset) {
    uint32_t top = 31 - static_cast<uint32_t>(__builtin_clz(formatted_offset));
    return 2 * top + ((formatted_offset >> (top - 1)) & 1);
}

// Slot of a formatted offset (distance + 2, or 0..2 for the repeat offsets).
inline uint32_t slot_of(uint32_t formatted_offset) {
    if (formatted_offset < 4) return formatted_offset;
    uint32_t slot = paired_slot_of(formatted_offset);
    if (slot > 36) {  // from slot 36 on every slot spans 2^17
        slot = 36 + ((formatted_offset - slot_bases.base[36]) >> 17);
    }
    return slot;
}

// One parsed element of a span: a literal or a match.
struct item {
    uint16_t length;         // 1 for a literal, else the match length 2..257
    uint16_t literal;        // the byte, for a literal
    uint32_t offset_code;    // for a match: 0, 1, 2 repeat R0, R1, R2; else distance + 2
};

// Repeat offsets after the items, starting from `repeats`.
inline void advance_repeats(const item *items, size_t count, uint32_t repeats[3]) {
    for (size_t i = 0; i < count; i++) {
        const item &it = items[i];
        if (it.length == 1) continue;
        if (it.offset_code >= num_repeat_offsets) {
            repeats[2] = repeats[1];
            repeats[1] = repeats[0];
            repeats[0] = it.offset_code - 2;
        } else if (it.offset_code != 0) {
            std::swap(repeats[0], repeats[it.offset_code]);
        }
    }
}

// Prices count in 1/price_scale bits: the parser weighs its choices by the
// symbols' information content, finer than whole code lengths.
inline constexpr uint32_t price_scale = 16;

// Price of every symbol, derived from a block's symbol counts; the parser
// weighs its choices with it.
struct costs {
    uint32_t main[max_main_symbols];
    uint32_t length[num_length_symbols];
    uint32_t aligned[num_aligned_symbols];
    bool aligned_block;      // price footers through the aligned tree
};

}  // namespace lzx
