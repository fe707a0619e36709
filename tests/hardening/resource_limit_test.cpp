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

#include <gtest/gtest.h>

#include "hardening_support.h"

namespace {
// kelto under a file-size limit of blocks (of the shell's ulimit unit);
// with the signal ignored the write fails, otherwise the signal ends it.
process_result run_under_size_limit(const std::string &dir, int blocks, bool ignore_signal) {
    remove((dir + ".its").c_str());
    std::string script = std::string(ignore_signal ? "trap '' XFSZ; " : "") + "ulimit -f " + std::to_string(blocks) +
                         " || exit 99; exec \"$0\" \"$1\"";
    return run_process({"/bin/sh", "-c", script, KELTO_BINARY, dir}, "", 60);
}

const int limits[] = {0, 1, 2, 4, 8, 16, 24, 32, 48, 64, 96, 128, 160, 192, 256, 384, 512, 2048};
}  // namespace

TEST(resource_limit_test, FileSizeLimitAtManySizes) {
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

TEST(resource_limit_test, FileSizeSignalRemovesTheOutput) {
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
TEST(resource_limit_test, FullFileSystemAtManySizes) {
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
