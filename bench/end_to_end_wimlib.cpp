// wimlib's LZX on the reset units the tool would compress from DIR, for
// bench/end_to_end.sh: one line per level, "LEVEL BYTES CPU_SECONDS",
// after one line "input FILES BYTES UNITS".
//
//   end_to_end_wimlib DIR LEVEL...
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "frame_stream.h"
#include "wimlib_units.h"

int main(int argc, char **argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: %s DIR LEVEL...\n", argv[0]);
        return 2;
    }
    size_t file_count = 0;
    std::vector<uint8_t> stream = build_stream(argv[1], UINTMAX_MAX, file_count);
    printf("input %zu %zu %zu\n", file_count, stream.size(), (stream.size() + unit_size - 1) / unit_size);
    for (int arg = 2; arg < argc; arg++) {
        unsigned level = static_cast<unsigned>(strtoul(argv[arg], nullptr, 10));
        double seconds = 0;
        uint64_t bytes = wimlib_compress_units(stream, level, seconds);
        printf("%u %llu %.3f\n", level, static_cast<unsigned long long>(bytes), seconds);
        fflush(stdout);
    }
    return 0;
}
