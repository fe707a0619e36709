// Constants of the LZX bitstream as the ITS container carries it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <algorithm>

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

// The three repeat offsets, packed R0 | R1 << 16 | R2 << 32: offsets within
// a span fit 16 bits.
using repeat_set = uint64_t;

inline uint32_t repeat_at(repeat_set reps, uint32_t k) { return uint32_t(reps >> (16 * k)) & 0xFFFF; }

// An offset beyond 16 bits could never be used within a span: it is clamped
// to one that cannot be either.
inline repeat_set pack_repeats(const uint32_t repeats[3]) {
    repeat_set reps = 0;
    for (uint32_t k = 0; k < num_repeat_offsets; k++) reps |= repeat_set(std::min(repeats[k], 0xFFFFu)) << (16 * k);
    return reps;
}

// The repeat offsets after a match: an explicit offset pushes the others
// down; using R1 or R2 swaps it with R0.
inline repeat_set repeats_after(repeat_set reps, uint32_t offset_code) {
    if (offset_code >= num_repeat_offsets) return (reps << 16 | (offset_code - 2)) & 0xFFFFFFFFFFFF;
    if (offset_code == 0) return reps;
    const uint32_t shift = 16 * offset_code;
    const uint64_t r0 = reps & 0xFFFF, rk = (reps >> shift) & 0xFFFF;
    return (reps & ~(0xFFFFull | 0xFFFFull << shift)) | rk | r0 << shift;
}

// Repeat offsets after the items, starting from `repeats`.
inline void advance_repeats(const item *items, size_t count, uint32_t repeats[3]) {
    repeat_set reps = pack_repeats(repeats);
    for (size_t i = 0; i < count; i++)
        if (items[i].length > 1) reps = repeats_after(reps, items[i].offset_code);
    for (uint32_t k = 0; k < num_repeat_offsets; k++) repeats[k] = repeat_at(reps, k);
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
