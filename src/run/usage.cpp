#include "run/usage.h"

#include <cstdio>

void print_usage(void) {
    printf("Usage: kelto [options] <dir> | <project.hhp>\n"
           "Converts <dir> into an .its file\n"
           "OR\n"
           "Converts <project.hhp> into a .chm file\n"
           "\n"
           "kelto 0.1\n"
           "kelto is free software and comes with ABSOLUTELY NO WARRANTY.\n");
}
