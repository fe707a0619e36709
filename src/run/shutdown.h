// Exit-time handling: removing an unfinished output, releasing memory.
#pragma once

// Registered with atexit: closes and removes an unfinished output, then
// releases every heap structure.
void on_exit_cleanup(void);

// Frees every heap structure of the run and nulls the pointers.
void release_all(void);

// Frees the directory build's chunk buffers and level array, if any.
void release_chunk_levels(void);
