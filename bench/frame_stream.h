// The stream the tool compresses, rebuilt in memory for the benchmarks:
// every regular file below a directory, in catalogue order, end to end.
#ifndef BENCH_FRAME_STREAM_H
#define BENCH_FRAME_STREAM_H

#include <sys/stat.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

// The stream is cut into frames of 32 KiB (the reset table's unit); the tool
// resets its compressor before every block of 64 KiB (window bits 16), so
// the benchmarks compress every unit of two frames on its own.
inline constexpr size_t frame_size = 32768;
inline constexpr size_t unit_size = 65536;

inline double cpu_seconds(void) {
    timespec now;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// The catalogue's order: bytes compared with ASCII capitals folded,
// ties broken by the plain bytes.
inline bool catalogue_less(const std::string &a, const std::string &b) {
    auto fold = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; };
    size_t common = std::min(a.size(), b.size());
    for (size_t i = 0; i < common; i++) {
        int x = fold(static_cast<unsigned char>(a[i]));
        int y = fold(static_cast<unsigned char>(b[i]));
        if (x != y) return x < y;
    }
    if (a.size() != b.size()) return a.size() < b.size();
    return a < b;
}

// Every regular file below root, concatenated in catalogue order, cut at
// `limit` bytes. Links are followed, as the tool follows them, but not
// round a loop.
inline std::vector<uint8_t> build_stream(const std::filesystem::path &root, uintmax_t limit, size_t &file_count) {
    namespace fs = std::filesystem;
    std::vector<std::pair<std::string, fs::path>> files;
    std::error_code error;
    const auto options = fs::directory_options::follow_directory_symlink | fs::directory_options::skip_permission_denied;
    fs::recursive_directory_iterator walk(root, options, error);
    if (error) {
        fprintf(stderr, "%s: %s\n", root.c_str(), error.message().c_str());
        exit(2);
    }
    // Directories on the path to the current entry, by depth: a link back
    // to one of them would lead round for ever, so it is not entered.
    struct stat root_status;
    if (stat(root.c_str(), &root_status) != 0) root_status = {};
    std::vector<std::pair<dev_t, ino_t>> above{{root_status.st_dev, root_status.st_ino}};
    for (; walk != fs::recursive_directory_iterator(); walk.increment(error)) {
        if (error) {
            fprintf(stderr, "%s: %s\n", root.c_str(), error.message().c_str());
            exit(2);
        }
        const fs::directory_entry &item = *walk;
        struct stat status;
        if (item.is_directory(error) && stat(item.path().c_str(), &status) == 0) {
            above.resize(static_cast<size_t>(walk.depth()) + 1);
            const std::pair<dev_t, ino_t> id{status.st_dev, status.st_ino};
            if (std::find(above.begin(), above.end(), id) != above.end())
                walk.disable_recursion_pending();
            else
                above.push_back(id);
            continue;
        }
        if (!item.is_regular_file(error)) continue;
        // Appended rather than "/" + name: g++ 12 at -O3 warns falsely on the latter.
        std::string name = "/";
        name += fs::relative(item.path(), root).string();
        files.emplace_back(std::move(name), item.path());
    }
    std::sort(files.begin(), files.end(), [](const auto &a, const auto &b) { return catalogue_less(a.first, b.first); });
    // Reserved exactly, so that the peak after loading is the stream itself
    // and any growth after it belongs to the compressors.
    uintmax_t total = 0;
    for (const auto &file : files) total += fs::file_size(file.second);
    std::vector<uint8_t> stream;
    stream.reserve(std::min(total, limit));
    file_count = 0;
    for (const auto &file : files) {
        if (stream.size() >= limit) break;
        std::ifstream in(file.second, std::ios::binary);
        stream.insert(stream.end(), std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        file_count++;
    }
    if (stream.size() > limit) stream.resize(limit);
    return stream;
}

#endif
