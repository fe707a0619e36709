#include "container/output_seek.h"

bool output_seek_failed = false;

void seek_output(FILE *stream, long offset, int whence) {
    if (fseek(stream, offset, whence) != 0) output_seek_failed = true;
}
