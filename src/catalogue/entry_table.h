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
    // Contents held in memory rather than in a file (a compiled help file's
    // internal files), memory_length bytes; not owned by the table.
    const uint8_t *memory;
    uint32_t memory_length;
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

// The add routines append to run.entry_table; 0 on success, -1 when memory
// runs out (the table is then unchanged). They print nothing.

// Catalogues the current name prefix as a directory.
int add_dir_entry(void);
// Catalogues prefix + name as a directory; name ends in "/".
int add_subdir_entry(const char *name);
// Catalogues prefix + name as a file.
int add_file_entry(const char *name);
// As add_file_entry, with the file's real path below the input directory
// kept beside the name (a heap copy is made); source may be null.
int add_file_entry_from(const char *name, const char *source);
// Catalogues prefix + name as a file whose length bytes lie in memory,
// in the given section: section 1 feeds them to the compressor like a
// file's; section 0 stores them as they are, behind the container's own
// files. The bytes must outlive the run.
int add_memory_entry(const char *name, const uint8_t *bytes, uint32_t length, uint32_t section);
// Appends a built-in record, which the table does not own.
int add_static_entry(its_entry *entry);

// Byte order of two names with ASCII capitals folded to small letters.
int compare_names(const its_entry *a, const its_entry *b);
// Sorts the whole table by compare_names; names equal under it are ordered
// by their plain bytes, then by source path, so the result never depends on
// the order in which directories yielded them.
void sort_entries(void);
// After the sort: of entries with byte-identical names keeps the first and
// drops the rest with a warning. Only flattened names can collide.
void drop_duplicate_names(void);
// After the sort: warns about each two neighbours whose names differ only in
// ASCII case. Readers look names up regardless of case and find one of them.
void warn_names_equal_but_for_case(void);
