// The process-wide run state that every stage reads and writes.
#pragma once
#include <cstdint>
#include <cstdio>

#include "catalogue/entry_table.h"
#include "compress/reset_table.h"
#include "container/chunk_level.h"
#include "lzxcomp.h"

// Told of each entry that the compression pass feeds, and of its bytes as
// they go to the compressor: a compiled help file tokenises its pages for
// the full-text index there, on the thread that feeds the compressor's
// workers, and fills in that index when the pass reaches it. Any member
// may be null.
struct feed_observer {
    // Before the entry is opened; may set a memory entry's bytes.
    void (*start)(void *context, its_entry *entry);
    void (*bytes)(void *context, const its_entry *entry, const char *data, size_t size);
    // After the entry is read or has failed to open.
    void (*end)(void *context, const its_entry *entry);
    void *context;
};

struct run_state {
    char *input_path;   // the command-line argument; name_output removes one trailing "/"
    char *output_path;  // heap string, input path + ".its"
    // Heap strings: the file the output replaces (output_path, or where its
    // symbolic link leads), and the new file written beside it until it is
    // renamed over it, which is what an unfinished run removes.
    char *replaced_path;
    char *unfinished_path;
    FILE *output_file;
    FILE *temp_file;
    FILE *input_file;

    ::entry_table entry_table;
    // The entries in the order the compression pass feeds them, when that
    // is not the table's: a compiled help file's pages in topic order and
    // its internal files last. Null: the table's order.
    its_entry **stream_order;  // not owned
    uint64_t stream_count;
    feed_observer observer;
    ::name_prefix name_prefix;
    ::reset_table reset_table;
    lzx_results compress_results;

    uint32_t current_index;
    uint32_t file_bytes;
    uint32_t total_bytes;
    uint64_t input_size;  // sum of the sizes of the catalogued files, as the walk saw them
    // Entries asked for that the container lacks in part or whole: files or
    // directories that could not be examined, opened or read, or catalogued
    // for want of memory. Any makes the run end with status 1.
    uint64_t incomplete_entries;

    // The regular file at output_path when it was named, if any: an earlier
    // output, which may lie inside the input tree or be standard output.
    bool output_exists;
    uint64_t output_device;
    uint64_t output_inode;
    // The directory that holds replaced_path, where unfinished outputs are
    // created: this run's, and those of other runs going on or killed.
    bool output_directory_known;
    uint64_t output_directory_device;
    uint64_t output_directory_inode;

    chunk_level *chunk_levels;
    uint32_t level_capacity;
    uint32_t levels_in_use;

    uint16_t quickref_spacing;
};

extern run_state run;

// Whether the file with this device and inode is the earlier output.
inline bool is_output_file(uint64_t device, uint64_t inode) {
    return run.output_exists && device == run.output_device && inode == run.output_inode;
}
