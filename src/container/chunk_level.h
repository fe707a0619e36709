// Records of the directory build.
#pragma once
#include <cstdint>

// A chunk number field that names no chunk.
inline constexpr uint32_t no_chunk = 0xFFFFFFFF;

// The open chunk of one level of the directory tree.
struct chunk_level {
    uint8_t *data_area;
    uint32_t free_bytes;
    uint8_t *write_pos;
    uint8_t *quickref_pos;
    uint16_t entry_count;
    uint32_t entries_added;
    uint32_t first_entry;
};

struct dir_summary {
    uint32_t depth;
    uint32_t chunk_count;
    uint32_t last_leaf;
    uint32_t root_chunk;  // 0xFFFFFFFF when the directory is a single leaf
};
