#include <cstdio>

#include "compress/compress_callbacks.h"

// A short write is caught later through the stream's error indicator.
int write_compressed(void *context, int n, void *buf) {
    if (n <= 0) return 0;
    return static_cast<int>(fwrite(buf, 1, static_cast<size_t>(n), static_cast<FILE *>(context)));
}
