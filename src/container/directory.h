// The directory: the sorted entry table as a tree of fixed-size chunks,
// "PMGL" leaves holding the entries and "PMGI" index chunks above them,
// streamed to the output with one open chunk per level.
#pragma once
#include <cstdint>

#include "catalogue/entry_table.h"
#include "container/chunk_level.h"

// Refuses, with its message, a chunk size whose index chunk cannot hold two
// entries of the longest name: each index level would then be only one chunk
// smaller than the level below, and the directory would grow without end.
// Returns 0 or -1.
int check_chunk_size(void);
// Creates the level right above those in use, with a zero-filled buffer.
void ensure_level(uint32_t level);
// Begins a new, empty chunk of the level in its buffer.
void init_chunk(uint32_t level);
// Adds the entry to the level's open chunk: the leaf form at level 0, above
// it an index entry naming chunk_number. Returns true, leaving the chunk
// unchanged, when the chunk is full.
bool add_to_chunk(uint32_t level, const its_entry *entry, uint32_t chunk_number);
// Appends the level's open chunk to the output; the caller numbers it.
void write_chunk(uint32_t level);
// Writes every chunk of the directory from the current output position and
// leaves the output after the last one.
dir_summary build_directory(void);
