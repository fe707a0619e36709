// lzx_compare's summary over many trees: per tree, our output size and
// speed against wimlib's levels 20, 50 and 100, then the median and the
// worst tree. Each run times ours and the three levels one after the
// other, so a drift of the machine's speed touches all four alike; a speed
// is the median over the runs of their CPU time over ours in that run.
#ifndef BENCH_TREE_SUMMARY_H
#define BENCH_TREE_SUMMARY_H

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

#include "frame_stream.h"
#include "wimlib_units.h"

inline constexpr unsigned summary_levels[] = {20, 50, 100};
inline constexpr size_t summary_level_count = std::size(summary_levels);

struct tree_figures {
    std::string name;
    size_t files;
    uint64_t input;
    uint64_t ours_bytes;
    double ours_seconds;  // median over the runs
    double size[summary_level_count];   // ours / theirs
    double speed[summary_level_count];  // their seconds / ours, median over the runs
};

inline double median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// `ours(stream)` compresses the stream and returns its .bytes and .seconds.
template <typename Ours>
tree_figures measure_tree(const std::filesystem::path &dir, uintmax_t limit, unsigned runs, Ours ours) {
    tree_figures tree{};
    tree.name = dir.filename().empty() ? dir.parent_path().filename().string() : dir.filename().string();
    std::vector<uint8_t> stream = build_stream(dir, limit, tree.files);
    tree.input = stream.size();
    if (stream.empty()) return tree;
    std::vector<double> ours_seconds, speeds[summary_level_count];
    for (unsigned run = 0; run < runs; run++) {
        fprintf(stderr, "\r%s: run %u of %u", tree.name.c_str(), run + 1, runs);
        const auto mine = ours(stream);
        tree.ours_bytes = mine.bytes;
        ours_seconds.push_back(mine.seconds);
        for (size_t k = 0; k < summary_level_count; k++) {
            double seconds = 0;
            uint64_t bytes = wimlib_compress_units(stream, summary_levels[k], seconds);
            tree.size[k] = static_cast<double>(mine.bytes) / static_cast<double>(bytes);
            speeds[k].push_back(seconds / mine.seconds);
        }
    }
    fprintf(stderr, "\r%*s\r", static_cast<int>(tree.name.size()) + 16, "");
    tree.ours_seconds = median(ours_seconds);
    for (size_t k = 0; k < summary_level_count; k++) tree.speed[k] = median(speeds[k]);
    return tree;
}

inline void print_summary(const std::vector<tree_figures> &trees, unsigned runs) {
    printf("one thread, 64 KiB units, median of %u runs; size: ours/theirs (lower is better), "
           "speed: their CPU time/ours (higher is better)\n\n", runs);
    printf("%-20s %6s %9s %9s | %-23s | %-20s\n", "tree", "files", "MB", "ours MB/s", "size vs   20     50    100",
           "speed vs 20    50   100");
    auto row = [](const char *name, const char *files, const char *megabytes, const char *rate, const double *size,
                  const double *speed) {
        printf("%-20s %6s %9s %9s | %7.4f %7.4f %7.4f |  %6.3f %6.3f %6.3f\n", name, files, megabytes, rate,
               size[0], size[1], size[2], speed[0], speed[1], speed[2]);
    };
    std::vector<double> sizes[summary_level_count], speeds[summary_level_count];
    double worst_size[summary_level_count] = {}, worst_speed[summary_level_count] = {};
    for (const tree_figures &t : trees) {
        if (t.input == 0) {
            printf("%-20s %6zu (nothing to compress: left out)\n", t.name.c_str(), t.files);
            continue;
        }
        char files[24], megabytes[24], rate[24];
        snprintf(files, sizeof files, "%zu", t.files);
        snprintf(megabytes, sizeof megabytes, "%.2f", static_cast<double>(t.input) / 1e6);
        snprintf(rate, sizeof rate, "%.2f", static_cast<double>(t.input) / 1e6 / t.ours_seconds);
        row(t.name.c_str(), files, megabytes, rate, t.size, t.speed);
        for (size_t k = 0; k < summary_level_count; k++) {
            sizes[k].push_back(t.size[k]);
            speeds[k].push_back(t.speed[k]);
            worst_size[k] = std::max(worst_size[k], t.size[k]);
            worst_speed[k] = speeds[k].size() == 1 ? t.speed[k] : std::min(worst_speed[k], t.speed[k]);
        }
    }
    if (sizes[0].empty()) return;
    double median_size[summary_level_count], median_speed[summary_level_count];
    for (size_t k = 0; k < summary_level_count; k++) {
        median_size[k] = median(sizes[k]);
        median_speed[k] = median(speeds[k]);
    }
    row("median", "", "", "", median_size, median_speed);
    row("worst", "", "", "", worst_size, worst_speed);
}

#endif
