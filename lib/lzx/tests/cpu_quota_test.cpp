// The CPU quota read from control-group files laid out as Linux shows them,
// under a scratch directory standing for the root.
#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>
#include <unistd.h>

#include "cpu_quota.h"

namespace fs = std::filesystem;

namespace {

class cpu_quota : public ::testing::Test {
  protected:
    void SetUp() override {
        root = fs::temp_directory_path() / ("lzx-quota-" + std::to_string(getpid()));
        fs::remove_all(root);
    }
    void TearDown() override { fs::remove_all(root); }
    void write(const std::string &path, const std::string &text) {
        fs::path file = root / path;
        fs::create_directories(file.parent_path());
        std::ofstream(file) << text;
    }
    unsigned quota() { return lzx::cpu_quota(root.string()); }
    // Writes the file, then expects this quota.
    void expect_after(const std::string &path, const std::string &text, unsigned cpus) {
        write(path, text);
        EXPECT_EQ(quota(), cpus) << path << ": " << text;
    }
    fs::path root;
};

}  // namespace

TEST_F(cpu_quota, version_two_rounds_up_and_takes_the_tightest_group_on_the_way_up) {
    write("proc/self/cgroup", "0::/ci/job\n");
    expect_after("sys/fs/cgroup/ci/job/cpu.max", "150000 100000\n", 2u);
    expect_after("sys/fs/cgroup/ci/job/cpu.max", "max 100000\n", 0u);
    expect_after("sys/fs/cgroup/ci/cpu.max", "300000 100000\n", 3u);
    expect_after("sys/fs/cgroup/ci/job/cpu.max", "50000 100000\n", 1u);
}

TEST_F(cpu_quota, version_one_inside_a_container_reads_the_mount_root) {
    // The host's path of the group does not exist in the container's view.
    write("proc/self/cgroup", "5:memory:/docker/abc\n4:cpu,cpuacct:/docker/abc\n");
    write("sys/fs/cgroup/cpu/cpu.cfs_quota_us", "250000\n");
    expect_after("sys/fs/cgroup/cpu/cpu.cfs_period_us", "100000\n", 3u);
    expect_after("sys/fs/cgroup/cpu/cpu.cfs_quota_us", "-1\n", 0u);
}

TEST_F(cpu_quota, no_quota_when_files_are_missing_or_unreadable) {
    EXPECT_EQ(quota(), 0u);
    expect_after("proc/self/cgroup", "0::/\n", 0u);
    expect_after("sys/fs/cgroup/cpu.max", "lots 100000\n", 0u);
    expect_after("sys/fs/cgroup/cpu.max", "100000 0\n", 0u);
    expect_after("proc/self/cgroup", "garbage\n\n1:cpu\n", 0u);
}

TEST_F(cpu_quota, both_hierarchies_give_the_tighter) {
    write("proc/self/cgroup", "3:cpu:/\n0::/\n");
    write("sys/fs/cgroup/cpu/cpu.cfs_quota_us", "400000\n");
    write("sys/fs/cgroup/cpu/cpu.cfs_period_us", "100000\n");
    expect_after("sys/fs/cgroup/cpu.max", "200000 100000\n", 2u);
}
