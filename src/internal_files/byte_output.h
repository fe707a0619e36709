// Appending the internal files' fields to a byte vector: integers in
// little-endian order by shifting and masking, so the bytes do not depend
// on the host, NUL-terminated text, and zero fill up to a block boundary.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

using byte_vector = std::vector<uint8_t>;

// The block size of the viewers' string and URL reads: nothing they take as
// one item may cross a multiple of it.
constexpr size_t viewer_block = 4096;

inline void append_le(byte_vector &out, uint64_t value, size_t bytes) {
    for (size_t i = 0; i < bytes; i++) out.push_back(static_cast<uint8_t>((value >> (8 * i)) & 0xFF));
}
inline void append_le16(byte_vector &out, uint16_t value) { append_le(out, value, 2); }
inline void append_le32(byte_vector &out, uint32_t value) { append_le(out, value, 4); }
inline void append_le64(byte_vector &out, uint64_t value) { append_le(out, value, 8); }

inline void append_text(byte_vector &out, std::string_view text) {
    out.insert(out.end(), text.begin(), text.end());
    out.push_back(0);
}

// Stores value at offset of a vector already long enough.
inline void store_le32(byte_vector &out, size_t offset, uint32_t value) {
    for (size_t i = 0; i < 4; i++) out[offset + i] = static_cast<uint8_t>((value >> (8 * i)) & 0xFF);
}

// Zero-fills to the next block boundary unless an item of `length` bytes
// still fits in the current block (or could fit in none).
inline void start_item_in_one_block(byte_vector &out, size_t length) {
    size_t used = out.size() % viewer_block;
    if (used != 0 && used + length > viewer_block && length <= viewer_block)
        out.resize(out.size() - used + viewer_block, 0);
}
