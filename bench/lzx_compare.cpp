// Compresses the stream the tool would build from a directory with our LZX
// compressor, wimlib's LZX compressor and raw deflate, reset unit by reset
// unit (64 KiB), and prints sizes and CPU throughput with our figures as
// ratios to theirs.
//
//   lzx_compare [--frames N] [--ours-only] DIR
//   lzx_compare --summary [--runs N] [--frames N] DIR...
//
// --frames N keeps the first N frames of the stream; --ours-only skips the
// others (both for repeatable instruction counts under callgrind).
// --summary prints one line per tree, ours against wimlib's levels 20, 50
// and 100, and the median over the trees (see tree_summary.h).
#include <sys/resource.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "frame_stream.h"
#include "lzxcomp.h"
#include "tree_summary.h"
#include "wimlib_units.h"

namespace {
// The tool's window: one block, and one reset, per unit.
constexpr int window_bits = 16;
static_assert(size_t(1) << window_bits == unit_size);

struct result {
    std::string name;
    uint64_t bytes;
    double seconds;
};

long peak_rss_kib(void) {
    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// --- ours, through the C interface, driven as the tool drives it ---------
struct our_source {
    const std::vector<uint8_t> *stream;
    size_t position;
    uint64_t delivered;
    uint64_t frames;
};
our_source source;

int take_bytes(void *, int n, void *buf) {
    size_t count = std::min(static_cast<size_t>(n), source.stream->size() - source.position);
    std::copy_n(source.stream->data() + source.position, count, static_cast<uint8_t *>(buf));
    source.position += count;
    return static_cast<int>(count);
}
int at_end(void *) { return source.position == source.stream->size(); }
int count_bytes(void *, int n, void *) {
    source.delivered += static_cast<uint64_t>(n);
    return n;
}
void count_frame(void *, uint32_t, uint32_t) { source.frames++; }

result run_ours(const std::vector<uint8_t> &stream) {
    source = our_source{&stream, 0, 0, 0};
    double start = cpu_seconds();
    lzx_data *handle = nullptr;
    if (lzx_init(&handle, window_bits, take_bytes, nullptr, at_end, count_bytes, nullptr, count_frame, nullptr) != 0) {
        fprintf(stderr, "lzx_init failed\n");
        exit(1);
    }
    // One reset before every block, and at least one block, as the tool does.
    do {
        lzx_reset(handle);
        if (lzx_compress_block(handle, 1 << window_bits, 1) < 0) {
            fprintf(stderr, "lzx_compress_block failed\n");
            exit(1);
        }
    } while (!at_end(nullptr));
    lzx_results results{};
    if (lzx_finish(handle, &results) < 0) {
        fprintf(stderr, "lzx_finish failed\n");
        exit(1);
    }
    double seconds = cpu_seconds() - start;
    if (results.compressed_length != source.delivered || results.uncompressed_length != stream.size())
        fprintf(stderr, "warning: results disagree with the callbacks (%llu/%llu delivered, %llu/%zu taken)\n",
                static_cast<unsigned long long>(results.compressed_length),
                static_cast<unsigned long long>(source.delivered),
                static_cast<unsigned long long>(results.uncompressed_length), stream.size());
    if (source.frames != (stream.size() + frame_size - 1) / frame_size)
        fprintf(stderr, "warning: %llu reset points for %zu frames\n", static_cast<unsigned long long>(source.frames),
                (stream.size() + frame_size - 1) / frame_size);
    return {"ours", results.compressed_length, seconds};
}

// --- wimlib's LZX, one call per unit ------------------------------------
result run_wimlib(const std::vector<uint8_t> &stream, unsigned level) {
    double seconds = 0;
    uint64_t bytes = wimlib_compress_units(stream, level, seconds);
    return {"wimlib LZX level " + std::to_string(level), bytes, seconds};
}

// --- zlib level 9 raw deflate, one stream per unit -----------------------
result run_deflate(const std::vector<uint8_t> &stream) {
    z_stream z{};
    if (deflateInit2(&z, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        fprintf(stderr, "deflateInit2 failed\n");
        exit(1);
    }
    std::vector<uint8_t> out(deflateBound(&z, unit_size));
    uint64_t total = 0;
    double start = cpu_seconds();
    for (size_t at = 0; at < stream.size(); at += unit_size) {
        size_t length = std::min(unit_size, stream.size() - at);
        deflateReset(&z);
        z.next_in = const_cast<uint8_t *>(stream.data() + at);
        z.avail_in = static_cast<uInt>(length);
        z.next_out = out.data();
        z.avail_out = static_cast<uInt>(out.size());
        deflate(&z, Z_FINISH);
        total += out.size() - z.avail_out;
    }
    double seconds = cpu_seconds() - start;
    deflateEnd(&z);
    return {"zlib -9 raw deflate", total, seconds};
}

double megabytes_per_second(uint64_t input, double seconds) {
    return seconds > 0 ? static_cast<double>(input) / 1e6 / seconds : 0.0;
}

// A positive count from an option's argument, or exit.
unsigned long long count_argument(const char *option, const char *text) {
    char *end = nullptr;
    unsigned long long value = strtoull(text, &end, 10);
    if (end == text || *end != '\0' || value == 0) {
        fprintf(stderr, "%s needs a positive number, not '%s'\n", option, text);
        exit(2);
    }
    return value;
}
}  // namespace

int main(int argc, char **argv) {
    uintmax_t limit = UINTMAX_MAX;
    bool ours_only = false, summary = false;
    unsigned runs = 3;
    int arg = 1;
    for (; arg + 1 < argc; arg++) {
        std::string option = argv[arg];
        if ((option == "--frames" || option == "--runs") && arg + 2 < argc) {
            unsigned long long count = count_argument(argv[arg], argv[arg + 1]);
            arg++;
            if (option == "--frames")
                limit = count * frame_size;
            else
                runs = static_cast<unsigned>(std::min(count, 99ull));
        } else if (option == "--ours-only") {
            ours_only = true;
        } else if (option == "--summary") {
            summary = true;
        } else {
            break;
        }
    }
    if (summary && arg < argc && !ours_only) {
        std::vector<tree_figures> trees;
        for (; arg < argc; arg++) trees.push_back(measure_tree(argv[arg], limit, runs, run_ours));
        print_summary(trees, runs);
        return 0;
    }
    if (summary || arg + 1 != argc) {
        fprintf(stderr, "usage: %s [--frames N] [--ours-only] DIR\n"
                        "       %s --summary [--runs N] [--frames N] DIR...\n", argv[0], argv[0]);
        return 2;
    }
    size_t file_count = 0;
    std::vector<uint8_t> stream = build_stream(argv[arg], limit, file_count);
    long rss_loaded = peak_rss_kib();
    printf("input: %s, %zu files, %zu bytes, %zu frames of %zu bytes, %zu units of %zu bytes\n", argv[arg],
           file_count, stream.size(), (stream.size() + frame_size - 1) / frame_size, frame_size,
           (stream.size() + unit_size - 1) / unit_size, unit_size);
    if (stream.empty()) return 0;

    std::vector<result> results;
    results.push_back(run_ours(stream));
    long rss_ours = peak_rss_kib();
    if (!ours_only) {
        for (unsigned level : {20u, 50u, 100u}) results.push_back(run_wimlib(stream, level));
        results.push_back(run_deflate(stream));
    }

    printf("\n%-24s %12s %8s %10s\n", "compressor", "bytes", "ratio", "CPU MB/s");
    for (const result &r : results)
        printf("%-24s %12llu %8.4f %10.2f\n", r.name.c_str(), static_cast<unsigned long long>(r.bytes),
               static_cast<double>(r.bytes) / static_cast<double>(stream.size()),
               megabytes_per_second(stream.size(), r.seconds));

    const result &ours = results.front();
    printf("\nours against each (size: ours/theirs, lower is better; speed: ours/theirs, higher is better)\n");
    for (size_t i = 1; i < results.size(); i++)
        printf("  vs %-24s size %6.3f   speed %6.3f\n", results[i].name.c_str(),
               static_cast<double>(ours.bytes) / static_cast<double>(results[i].bytes),
               results[i].seconds / ours.seconds);

    printf("\npeak RSS: %ld KiB after loading the input, %ld KiB after our compressor (+%ld), %ld KiB at the end\n",
           rss_loaded, rss_ours, rss_ours - rss_loaded, peak_rss_kib());
    return 0;
}
