// The reset table and the compressed-output callback.
#include <cstdio>

#include "compress/compress_callbacks.h"
#include "compress_fixture.h"
#include "run/run_state.h"

using reset_point = compress_test;

TEST_F(reset_point, GrowsAheadOfNeed) {
    record_reset_point(nullptr, 0, 100);
    EXPECT_EQ(run.reset_table.capacity, 10u);
    for (uint32_t i = 1; i < 9; i++) record_reset_point(nullptr, 0, 100 + i);
    EXPECT_EQ(run.reset_table.count, 9u);
    EXPECT_EQ(run.reset_table.capacity, 10u);
    record_reset_point(nullptr, 0, 109);  // count 9 before the append
    EXPECT_EQ(run.reset_table.capacity, 20u);
    for (uint32_t i = 10; i < 19; i++) record_reset_point(nullptr, 0, 100 + i);
    EXPECT_EQ(run.reset_table.capacity, 20u);
    record_reset_point(nullptr, 0, 119);
    EXPECT_EQ(run.reset_table.capacity, 30u);
    ASSERT_EQ(run.reset_table.count, 20u);
    for (uint32_t i = 0; i < 20; i++) EXPECT_EQ(run.reset_table.values[i], 100u + i);
    // Past thirty, half as much again each time.
    for (uint32_t i = 20; i < 30; i++) record_reset_point(nullptr, 0, 100 + i);
    EXPECT_EQ(run.reset_table.capacity, 50u);
    EXPECT_EQ(run.reset_table.values[29], 129u);
}

TEST_F(reset_point, KeepsTheThirdValueWidened) {
    record_reset_point(nullptr, 32768, 0xFFFFFFFFu);
    record_reset_point(nullptr, 7, 3);
    ASSERT_EQ(run.reset_table.count, 2u);
    EXPECT_EQ(run.reset_table.values[0], 0xFFFFFFFFull);
    EXPECT_EQ(run.reset_table.values[1], 3u);
}

TEST_F(reset_point, WriteCompressedAppendsToTheContextFile) {
    FILE *file = tmpfile();
    ASSERT_NE(file, nullptr);
    char first[] = "abc";
    char second[] = "defgh";
    EXPECT_EQ(write_compressed(file, 3, first), 3);
    EXPECT_EQ(write_compressed(file, 0, second), 0);
    EXPECT_EQ(write_compressed(file, 5, second), 5);
    rewind(file);
    char back[16] = {};
    EXPECT_EQ(fread(back, 1, sizeof back, file), 8u);
    EXPECT_EQ(std::string(back), "abcdefgh");
    fclose(file);
}
