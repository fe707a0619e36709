// Records of the catalogue: internal names and the table that holds them.
#pragma once
#include <cstdint>

struct its_entry {
    uint8_t name_len;
    char *name;
    uint32_t section;
    uint32_t offset;
    uint32_t length;
    uint8_t is_static;
    // Path of the file relative to the input directory when it differs from
    // the internal name without its leading "/" (flattened names); owned.
    char *source_path;
};

struct entry_table {
    its_entry **entries;
    uint64_t capacity;
    uint64_t count;
};

// Internal name of the directory being walked, beginning and ending with "/".
struct name_prefix {
    char *buffer;
    uint32_t capacity;
    uint32_t length;
};
