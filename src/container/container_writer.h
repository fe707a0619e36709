// Writes the whole ITS file: headers, directory, section-0 files and the
// compressed Content, then fills in the fields known only at the end.
#pragma once
#include <cstdint>
#include <cstdio>

// Writes the container into run.output_file, positioned at 0, from the run
// state. Returns only on success; every failure ends the run.
void write_container(void);

// Copies stream from its current position to its end into output through a
// 512-byte buffer; returns the number of bytes written.
uint32_t copy_content(FILE *output, FILE *stream);
