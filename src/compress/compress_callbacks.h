// The callbacks through which the LZX compressor pulls input and pushes
// output; each matches a callback type of lzxcomp.h.
#pragma once
#include <cstdint>

// Opens the input directory that feed_input opens files in. A directory
// that cannot be opened is not an error here: every file then fails to open
// and is reported on its own.
void open_input_dir(const char *path);
void close_input_dir(void);

// Fills buf with up to n bytes of the catalogued files, in table order,
// across file boundaries, each read up to the size it had when opened.
// Fewer than n only once the table is passed.
int feed_input(void *context, int n, void *buf);

// 1 once feed_input has stepped past the last entry, else 0.
int input_exhausted(void *context);

// Appends n compressed bytes to the FILE given as context.
int write_compressed(void *context, int n, void *buf);

// Appends compressed_position to run.reset_table.
void record_reset_point(void *context, uint32_t uncompressed_position, uint32_t compressed_position);
