// Real write failures, no injection: a file-size limit and a full file
// system, at many sizes so that they strike at every stage of the output.
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "hardening_support.h"

namespace {
// kelto after the shell has run `setup` (a ulimit and perhaps a trap),
// with the variable `env` (NAME=VALUE) set when given; the output of an
// earlier run is removed first.
process_result run_limited(const std::string &dir, const std::string &setup, const std::string &env = "") {
    remove((dir + ".its").c_str());
    std::vector<std::string> argv;
    if (!env.empty()) argv = {"/usr/bin/env", env};
    argv.insert(argv.end(), {"/bin/sh", "-c", setup + " || exit 99; exec \"$0\" \"$1\"", KELTO_BINARY, dir});
    return run_process(argv, "", 60);
}

// kelto under a file-size limit of blocks (of the shell's ulimit unit);
// with the signal ignored the write fails, otherwise the signal ends it.
process_result run_under_size_limit(const std::string &dir, int blocks, bool ignore_signal) {
    return run_limited(dir, std::string(ignore_signal ? "trap '' XFSZ; " : "") + "ulimit -f " + std::to_string(blocks));
}

const int limits[] = {0, 1, 2, 4, 8, 16, 24, 32, 48, 64, 96, 128, 160, 192, 256, 384, 512, 2048};

// kelto with this many compression threads under an address-space limit.
process_result run_under_memory_limit(const std::string &dir, unsigned threads, int mib) {
    return run_limited(dir, "ulimit -v " + std::to_string(mib * 1024), "LZXCOMP_THREADS=" + std::to_string(threads));
}

// Text of words, different for every seed.
std::string words(size_t length, uint32_t seed) {
    static const char *const vocabulary[] = {"frame ", "window ", "<p>", "</p>\n", "tree ", "block ", "the ",
                                             "of ", "match ", "offset ", "<a href=\"", "\">", "index "};
    std::string text;
    uint32_t state = seed * 2654435761u + 1;
    while (text.size() < length) {
        state = state * 1103515245u + 12345u;
        text += vocabulary[(state >> 16) % 13];
        if ((state >> 8) % 7 == 0) text += std::to_string(state % 1000);
    }
    text.resize(length);
    return text;
}
}  // namespace

TEST(resource_limit, FileSizeLimitAtManySizes) {
    temp_dir work;
    std::string tree = work / "tree";
    make_sample_tree(tree, 150);
    int complete = 0, failed = 0;
    for (int blocks : limits) {
        process_result result = run_under_size_limit(tree, blocks, true);
        EXPECT_EQ(judge_outcome(tree, result), "") << "ulimit -f " << blocks << "\n" << result.output.substr(0, 1000);
        (result.status == 0 ? complete : failed)++;
    }
    // The range must reach from failing at the first byte to a whole run.
    EXPECT_GT(failed, 3);
    EXPECT_GT(complete, 0);
}

TEST(resource_limit, FileSizeSignalRemovesTheOutput) {
    temp_dir work;
    std::string tree = work / "tree";
    make_sample_tree(tree, 150);
    for (int blocks : limits) {
        process_result result = run_under_size_limit(tree, blocks, false);
        EXPECT_EQ(judge_signalled(tree, result, SIGXFSZ), "") << "ulimit -f " << blocks;
    }
}

// The tree and its output live on a small memory file system that has only
// so much room left.
TEST(resource_limit, FullFileSystemAtManySizes) {
    if (geteuid() != 0) GTEST_SKIP() << "mounting a small tmpfs needs root";
    temp_dir work;
    std::string mount_point = work / "fs";
    ASSERT_EQ(mkdir(mount_point.c_str(), 0755), 0);
    if (mount("tmpfs", mount_point.c_str(), "tmpfs", 0, "size=2m") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here: " << strerror(errno);
    // Unmounted however the test ends, before the work directory goes.
    struct unmount_at_end {
        std::string path;
        ~unmount_at_end() { umount2(path.c_str(), MNT_DETACH); }
    } unmount{mount_point};
    std::string tree = mount_point + "/tree";
    make_sample_tree(tree, 60);
    std::string filler = mount_point + "/filler";
    int complete = 0, failed = 0;
    for (int room_kib : {0, 4, 8, 12, 16, 24, 32, 40, 48, 64, 96, 128, 256}) {
        remove((tree + ".its").c_str());
        remove(filler.c_str());
        struct statvfs fs;
        ASSERT_EQ(statvfs(mount_point.c_str(), &fs), 0);
        long long free_bytes = static_cast<long long>(fs.f_bavail) * static_cast<long long>(fs.f_frsize);
        long long fill = free_bytes - room_kib * 1024LL;
        if (fill > 0) write_file(filler, std::string(static_cast<size_t>(fill), 'f'));
        process_result result = run_kelto({tree});
        EXPECT_EQ(judge_outcome(tree, result), "") << room_kib << " KiB free\n" << result.output.substr(0, 1000);
        (result.status == 0 ? complete : failed)++;
    }
    remove_tree(tree);
    EXPECT_GT(failed, 2);
    EXPECT_GT(complete, 0);
}

// Every thread costs memory: a stack and a compressor. Where the limit leaves
// too little for them, the frames are done by fewer hands, and a run that one
// thread completes completes with any number, to the same bytes.
TEST(resource_limit, MemoryLimitThatOneThreadMeetsServesEveryThreadCount) {
    if (KELTO_SANITIZED) GTEST_SKIP() << "sanitizers reserve more address space than any limit tried";
    temp_dir work;
    std::string tree = work / "tree";
    // About 80 frames: enough to keep many workers busy.
    for (uint32_t i = 0; i < 40; i++) write_file(tree + "/page-" + std::to_string(i) + ".htm", words(64000, i));
    // The least limit, in MiB, under which one thread completes.
    int fails = 1, completes = 256;
    ASSERT_EQ(run_under_memory_limit(tree, 1, completes).status, 0);
    while (completes - fails > 1) {
        int middle = (fails + completes) / 2;
        (run_under_memory_limit(tree, 1, middle).status == 0 ? completes : fails) = middle;
    }
    ASSERT_EQ(run_under_memory_limit(tree, 1, completes).status, 0);
    const std::string reference = read_file(tree + ".its");
    // A worker's stack and the second frame in flight take a little more:
    // from a few MiB above it every count must complete.
    for (unsigned threads : {2u, 16u}) {
        for (int extra : {3, 5, 7, 9, 11}) {
            process_result result = run_under_memory_limit(tree, threads, completes + extra);
            EXPECT_EQ(result.status, 0) << threads << " threads, " << completes + extra << " MiB (one thread needs "
                                        << completes << ")\n"
                                        << result.output.substr(result.output.size() > 500 ? result.output.size() - 500 : 0);
            if (result.status == 0) {
                EXPECT_TRUE(read_file(tree + ".its") == reference) << threads << " threads";
            }
        }
    }
}
