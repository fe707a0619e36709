#include "run/fatal.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

void end_run(const char *format, ...) {
    va_list args;
    va_start(args, format);
    vprintf(format, args);
    va_end(args);
    exit(-1);
}
