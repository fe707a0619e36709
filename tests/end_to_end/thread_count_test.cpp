// The container is the same byte for byte whatever number of threads the
// LZX library compresses with.
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "its_check.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

// The container kelto makes of dir with LZXCOMP_THREADS set to threads.
std::string pack_with_threads(const std::string &dir, unsigned threads) {
    process_result result =
        run_process({"/usr/bin/env", "LZXCOMP_THREADS=" + std::to_string(threads), KELTO_BINARY, dir});
    EXPECT_EQ(result.status, 0) << result.output.substr(0, 4000);
    return read_file(dir + ".its");
}

// Leaves the container of the last run, with 8 threads, in place.
void expect_same_for_every_thread_count(const std::string &dir) {
    std::string one = pack_with_threads(dir, 1);
    ASSERT_FALSE(one.empty());
    for (unsigned threads : {2u, 3u, 8u}) {
        SCOPED_TRACE(threads);
        std::string many = pack_with_threads(dir, threads);
        ASSERT_EQ(many.size(), one.size());
        EXPECT_TRUE(many == one) << "containers differ";
    }
}

class thread_count : public ::testing::Test {
  protected:
    temp_dir work;
};

}  // namespace

TEST_F(thread_count, ExampleSite) {
    fs::path site = fs::path(KELTO_SOURCE_DIR) / "examples/site";
    if (!fs::is_directory(site)) GTEST_SKIP() << "examples/site is not there yet";
    fs::copy(site, work / "site", fs::copy_options::recursive);
    expect_same_for_every_thread_count(work / "site");
}

TEST_F(thread_count, AMegabyteInManyFrames) {
    std::string in = work / "in";
    // Sizes that put file ends all over the frames, in a few directories.
    for (uint32_t i = 0; i < 50; i++)
        write_file(in + "/part" + std::to_string(i % 4) + "/file" + std::to_string(i),
                   sample_bytes(500 + i * 800, i));
    expect_same_for_every_thread_count(in);
    // Read back through the index, every file extracted.
    check_with_every_reader(in + ".its", expected_entries(in), work.path());
}
