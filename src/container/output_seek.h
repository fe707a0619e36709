// Seeks in the output file. A failed seek (an output that is not seekable)
// leaves the stream's error indicator clear, so the failure is kept here and
// the writer's check points report it as a write error.
#pragma once
#include <cstdio>

extern bool output_seek_failed;

void seek_output(FILE *stream, long offset, int whence);
