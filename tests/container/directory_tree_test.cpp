// Deep directories, checked as a whole by the tree checker.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "container/directory.h"
#include "container_test_support.h"
#include "run/settings.h"

namespace {
class directory_tree : public directory_output_test {
  protected:
    dir_summary build_and_check(void) {
        dir_summary summary = build_directory();
        std::string bytes = stream_bytes(run.output_file);
        EXPECT_EQ(bytes.size(), static_cast<size_t>(summary.chunk_count) * settings.chunk_size);
        check_directory(bytes, 0, summary, settings.chunk_size, run.quickref_spacing);
        return summary;
    }
};
}  // namespace

TEST_F(directory_tree, DepthThreeWithLongerNames) {
    add_numbered_entries(45000, 60);
    EXPECT_EQ(build_and_check().depth, 3u);
}

// 255-byte names: 15 entries per chunk at every level, so 3,400 entries
// need 227 leaves, 16 index chunks above them, then 2, then the root.
TEST_F(directory_tree, DepthFourWithLongestNames) {
    add_numbered_entries(3400, 255);
    dir_summary summary = build_and_check();
    EXPECT_EQ(summary.depth, 4u);
    EXPECT_EQ(summary.chunk_count, 227u + 16 + 2 + 1);
}

// Small chunks reach six levels cheaply.
TEST_F(directory_tree, DepthSixWithSmallChunks) {
    settings.chunk_size = 256;
    add_numbered_entries(20000, 30);
    EXPECT_EQ(build_and_check().depth, 6u);
}

// Random name lengths and values of every encint size, over chunk sizes,
// densities and entry counts around the level boundaries.
TEST_F(directory_tree, RandomCataloguesKeepTheTreeWhole) {
    std::mt19937 random(12345);
    for (uint32_t chunk_size : {512u, 1024u, 4096u}) {
        for (uint32_t density : {0u, 2u, 4u}) {
            for (uint32_t count : {1u, 7u, 60u, 600u, 3000u}) {
                SCOPED_TRACE(::testing::Message() << chunk_size << " " << density << " " << count);
                TearDown();
                SetUp();
                settings.chunk_size = chunk_size;
                settings.quickref_density = density;
                run.quickref_spacing = static_cast<uint16_t>((1u << density) + 1);
                settings.clear_free_space = count % 2;
                size_t longest = chunk_size == 512 ? 120 : 255;
                for (uint32_t i = 0; i < count; i++) {
                    size_t length = 8 + random() % (longest - 7);
                    uint32_t value = random() >> (random() % 32);
                    add_test_entry(numbered_name(i, length), value & 3, value, value >> 3);
                }
                build_and_check();
            }
        }
    }
}
