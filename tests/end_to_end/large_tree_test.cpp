// Trees large enough for many directory chunks and index levels.
#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "its_check.h"
#include "test_support.h"

namespace {
// Plain POSIX writes: these trees hold tens of thousands of files.
void quick_file(const std::string &path, const std::string &bytes) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0) << path;
    ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    close(fd);
}

void quick_dir(const std::string &path) { ASSERT_EQ(mkdir(path.c_str(), 0755), 0) << path; }

// Containers often get a small /dev/shm; these trees take a page per file.
bool memory_fs_has_room(void) {
    struct statvfs fs;
    if (access("/dev/shm", W_OK | X_OK) != 0 || statvfs("/dev/shm", &fs) != 0) return false;
    return static_cast<uint64_t>(fs.f_bavail) * fs.f_frsize >= (1ull << 30);
}

// Tens of thousands of small files are slow on a busy disk; a memory file
// system keeps these tests within seconds where one is available.
class large_tree : public ::testing::Test {
  protected:
    void SetUp() override {
        const char *old = getenv("TMPDIR");
        if (old) saved_tmpdir = old;
        had_tmpdir = old != nullptr;
        if (memory_fs_has_room()) setenv("TMPDIR", "/dev/shm", 1);
        work.emplace();
    }
    void TearDown() override {
        work.reset();
        if (had_tmpdir) setenv("TMPDIR", saved_tmpdir.c_str(), 1);
        else unsetenv("TMPDIR");
    }
    std::optional<temp_dir> work;
    std::string saved_tmpdir;
    bool had_tmpdir = false;
};
}  // namespace

TEST_F(large_tree, TenThousandSmallFiles) {
    std::string in = *work / "in";
    quick_dir(in);
    for (int i = 0; i < 10000; i++) {
        std::string name = "page" + std::to_string(i * 7919 % 10000) + ".htm";
        quick_file(in + "/" + name, "<html>" + std::to_string(i) + sample_bytes(static_cast<size_t>(i % 97), i) + "</html>");
    }
    pack_and_check(in, work->path());
}

TEST_F(large_tree, FortyFiveThousandEntriesThreeLevelsDeep) {
    std::string in = *work / "in";
    quick_dir(in);
    // 30 x 30 directories with 49 files each: 900 + 30 directories and
    // 44,100 files, long enough names to fill many chunks.
    for (int a = 0; a < 30; a++) {
        std::string level1 = in + "/section-" + std::to_string(a);
        quick_dir(level1);
        for (int b = 0; b < 30; b++) {
            std::string level2 = level1 + "/Chapter_" + std::to_string(b);
            quick_dir(level2);
            for (int c = 0; c < 49; c++) {
                std::string name = "topic-" + std::to_string(c) + (c % 3 ? ".html" : ".HTM");
                quick_file(level2 + "/" + name, std::to_string(a * 10000 + b * 100 + c) + (c % 5 ? "" : "\n"));
            }
        }
    }
    pack_and_check(in, work->path());
}
