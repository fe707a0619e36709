#include "container/directory.h"

#include <gtest/gtest.h>

#include <string>

#include "container_test_support.h"
#include "run/settings.h"
#include "run/shutdown.h"

namespace {
class directory : public directory_output_test {
  protected:
    // Builds the directory and reads back what was written, checking that
    // the output is left after the last chunk and the levels released.
    std::string build(dir_summary &summary) {
        summary = build_directory();
        EXPECT_EQ(ftell(run.output_file), static_cast<long>(summary.chunk_count) * settings.chunk_size);
        EXPECT_EQ(run.chunk_levels, nullptr);
        EXPECT_EQ(settings.last_chunk, static_cast<int32_t>(summary.chunk_count) - 1);
        return stream_bytes(run.output_file);
    }

    static std::string chunk(const std::string &bytes, uint32_t n) { return bytes.substr(n * 4096, 4096); }
};

void expect_summary(const dir_summary &s, uint32_t depth, uint32_t count, uint32_t last_leaf, uint32_t root) {
    EXPECT_EQ(s.depth, depth);
    EXPECT_EQ(s.chunk_count, count);
    EXPECT_EQ(s.last_leaf, last_leaf);
    EXPECT_EQ(s.root_chunk, root);
}

// An index entry for a 30-byte name and a chunk number below 128.
std::string index_entry(uint32_t name_number, uint8_t chunk_number) {
    return std::string(1, 30) + numbered_name(name_number, 30) + std::string(1, static_cast<char>(chunk_number));
}
}  // namespace

// 300 entries of 30-byte names: three leaves of 118, 118 and 64 entries and
// one index chunk.
TEST_F(directory, WorkedExampleThreeLeavesAndAnIndex) {
    add_numbered_entries(300, 30);
    dir_summary summary;
    std::string bytes = build(summary);
    ASSERT_EQ(bytes.size(), 4u * 4096);
    expect_summary(summary, 2, 4, 2, 3);

    std::string c0 = chunk(bytes, 0);
    EXPECT_EQ(c0.substr(0, 4), "PMGL");
    EXPECT_EQ(le32(c0, 4), 64u);
    EXPECT_EQ(le32(c0, 8), 0u);
    EXPECT_EQ(le32(c0, 12), 0xFFFFFFFFu);
    EXPECT_EQ(le32(c0, 16), 1u);
    EXPECT_EQ(c0.substr(4094, 2), std::string("\x76\x00", 2));
    EXPECT_EQ(c0.substr(4092, 2), std::string("\xAA\x00", 2));
    EXPECT_EQ(c0.substr(4090, 2), std::string("\x54\x01", 2));
    EXPECT_EQ(c0.substr(4048, 2), std::string("\x46\x0F", 2));
    EXPECT_EQ(c0.substr(4032, 16), std::string(16, '\0'));
    // The first entry, byte for byte: length, name, section 0, offset 0, length 0.
    EXPECT_EQ(c0.substr(20, 34), std::string(1, 30) + numbered_name(0, 30) + std::string(3, '\0'));
    // Entry 5 is where slot 1 says: 20 + 170.
    EXPECT_EQ(c0.substr(190, 31), std::string(1, 30) + numbered_name(5, 30));

    std::string c1 = chunk(bytes, 1);
    EXPECT_EQ(c1.substr(0, 4), "PMGL");
    EXPECT_EQ(le32(c1, 12), 0u);
    EXPECT_EQ(le32(c1, 16), 2u);
    EXPECT_EQ(le16(c1, 4094), 118);
    EXPECT_EQ(c1.substr(21, 30), numbered_name(118, 30));

    std::string c2 = chunk(bytes, 2);
    EXPECT_EQ(le32(c2, 4), 1900u);
    EXPECT_EQ(le32(c2, 12), 1u);
    EXPECT_EQ(le32(c2, 16), 0xFFFFFFFFu);
    EXPECT_EQ(le16(c2, 4094), 64);
    EXPECT_EQ(c2.substr(21, 30), numbered_name(236, 30));
    // The free gap still holds chunk 1's bytes: its later entries and its
    // slots 13 to 23, which lie below chunk 2's 12 slots.
    size_t gap_start = 20 + 2176, slots_start = 4094 - 24;
    EXPECT_EQ(c2.substr(gap_start, slots_start - gap_start), c1.substr(gap_start, slots_start - gap_start));

    std::string c3 = chunk(bytes, 3);
    EXPECT_EQ(c3.substr(0, 4), "PMGI");
    EXPECT_EQ(le32(c3, 4), 3992u);
    EXPECT_EQ(c3.substr(8, 96), index_entry(0, 0) + index_entry(118, 1) + index_entry(236, 2));
    EXPECT_EQ(le16(c3, 4094), 3);
    EXPECT_EQ(c3.substr(104, 4096 - 104 - 2), std::string(4096 - 104 - 2, '\0'));

    check_directory(bytes, 0, summary, 4096, 5);
}

TEST_F(directory, OneLeafHasNoLinksAndNoRoot) {
    add_numbered_entries(118, 30);
    dir_summary summary;
    std::string bytes = build(summary);
    ASSERT_EQ(bytes.size(), 4096u);
    expect_summary(summary, 1, 1, 0, 0xFFFFFFFF);
    EXPECT_EQ(le32(bytes, 12), 0xFFFFFFFFu);
    EXPECT_EQ(le32(bytes, 16), 0xFFFFFFFFu);
    EXPECT_EQ(le16(bytes, 4094), 118);
    check_directory(bytes, 0, summary, 4096, 5);
}

TEST_F(directory, OneEntryMoreStartsASecondLeafAndTheIndex) {
    add_numbered_entries(119, 30);
    dir_summary summary;
    std::string bytes = build(summary);
    ASSERT_EQ(bytes.size(), 3u * 4096);
    expect_summary(summary, 2, 3, 1, 2);
    EXPECT_EQ(le32(bytes, 16), 1u);
    EXPECT_EQ(le16(bytes, 4094), 118);
    std::string c1 = chunk(bytes, 1);
    EXPECT_EQ(le32(c1, 12), 0u);
    EXPECT_EQ(le32(c1, 16), 0xFFFFFFFFu);
    EXPECT_EQ(le16(c1, 4094), 1);
    std::string c2 = chunk(bytes, 2);
    EXPECT_EQ(c2.substr(8, 64), index_entry(0, 0) + index_entry(118, 1));
    EXPECT_EQ(le16(c2, 4094), 2);
    check_directory(bytes, 0, summary, 4096, 5);
}

TEST_F(directory, SixthEntryTakesTheFirstQuickrefSlot) {
    add_numbered_entries(5, 30);
    dir_summary summary;
    std::string five = build(summary);
    EXPECT_EQ(five.substr(4092, 2), std::string(2, '\0'));
    EXPECT_EQ(le32(five, 4), 4096u - 20 - 5 * 34);

    fclose(run.output_file);
    run.output_file = tmpfile();
    add_test_entry(numbered_name(5, 30), 0, 0, 0);
    std::string six = build(summary);
    EXPECT_EQ(six.substr(4092, 2), std::string("\xAA\x00", 2));
    EXPECT_EQ(le32(six, 4), 4096u - 20 - 6 * 34);
}

// Fifteen 259-byte entries leave 185 free bytes: entry 15 fits on its own
// but not with the slot it is due, so it begins the next leaf.
TEST_F(directory, DueSlotThatDoesNotFitMakesTheChunkFull) {
    for (uint32_t i = 0; i < 15; i++) add_test_entry(numbered_name(i, 254), 1, 0, 0);
    add_test_entry(numbered_name(15, 180), 1, 0, 0);
    dir_summary summary;
    std::string bytes = build(summary);
    expect_summary(summary, 2, 3, 1, 2);
    EXPECT_EQ(le16(bytes, 4094), 15);
    EXPECT_EQ(le32(bytes, 4), 4096u - 20 - 15 * 259);
    EXPECT_EQ(bytes.substr(4088, 2), std::string(2, '\0'));  // slot 3 not written
    EXPECT_EQ(le16(chunk(bytes, 1), 4094), 1);
    check_directory(bytes, 0, summary, 4096, 5);
}

// Sixteen 239-byte entries, three slots and one 244-byte entry fill the
// data area to its last byte.
TEST_F(directory, EntryNeedingExactlyTheFreeBytesFits) {
    for (uint32_t i = 0; i < 16; i++) add_test_entry(numbered_name(i, 234), 1, 0, 0);
    add_test_entry(numbered_name(16, 239), 1, 0, 0);
    dir_summary summary;
    std::string bytes = build(summary);
    expect_summary(summary, 1, 1, 0, 0xFFFFFFFF);
    EXPECT_EQ(le16(bytes, 4094), 17);
    EXPECT_EQ(le32(bytes, 4), 8u);  // three slots and the entry count
    check_directory(bytes, 0, summary, 4096, 5);

    fclose(run.output_file);
    run.output_file = tmpfile();
    add_test_entry(numbered_name(17, 30), 1, 0, 0);
    bytes = build(summary);
    expect_summary(summary, 2, 3, 1, 2);
    EXPECT_EQ(le16(bytes, 4094), 17);
}

// Name lengths of 128 and more are encints too, as readers expect: 200 is
// stored as 81 48, not as the single byte C8.
TEST_F(directory, LongNameAndMultiByteEncints) {
    std::string name = numbered_name(7, 200);
    add_test_entry(name, 1, 1000, 200);
    add_test_entry(numbered_name(8, 127), 1, 0, 0);
    dir_summary summary;
    std::string bytes = build(summary);
    EXPECT_EQ(bytes.substr(20, 2 + 200 + 5), "\x81\x48" + name + "\x01\x87\x68\x81\x48");
    EXPECT_EQ(bytes.substr(227, 1), "\x7F");
    EXPECT_EQ(le32(bytes, 4), 4096u - 20 - 207 - 131);
    check_directory(bytes, 0, summary, 4096, 5);
}

// The longest names, 255 bytes, fill a leaf with 15 entries of 260 bytes
// and an index chunk with 15 entries of 258 or 259 bytes.
TEST_F(directory, LongestNamesPerChunk) {
    add_numbered_entries(16, 255);
    dir_summary summary;
    std::string bytes = build(summary);
    expect_summary(summary, 2, 3, 1, 2);
    EXPECT_EQ(le16(bytes, 4094), 15);
    EXPECT_EQ(le32(bytes, 4), 4096u - 20 - 15 * 260);
    EXPECT_EQ(chunk(bytes, 2).substr(8, 2), "\x81\x7F");
    check_directory(bytes, 0, summary, 4096, 5);
}

// 126 leaves fill the index chunk to its last entry: 126 entries, 25 slots.
TEST_F(directory, LargestTreeOfDepthTwo) {
    add_numbered_entries(14868, 30);
    dir_summary summary;
    std::string bytes = build(summary);
    expect_summary(summary, 2, 127, 125, 126);
    std::string root = chunk(bytes, 126);
    EXPECT_EQ(root.substr(0, 4), "PMGI");
    EXPECT_EQ(le16(root, 4094), 126);
    EXPECT_EQ(le32(root, 4), 56u);
    EXPECT_EQ(le16(root, 4094 - 50), 125 * 32);  // slot 25 names entry 125
    check_directory(bytes, 0, summary, 4096, 5);
}

TEST_F(directory, OneEntryMoreThanDepthTwoHolds) {
    add_numbered_entries(14869, 30);
    dir_summary summary;
    std::string bytes = build(summary);
    // Leaf 126 is written by the flush; naming it fills the index chunk,
    // which is written as chunk 127, and a third level appears.
    expect_summary(summary, 3, 130, 126, 129);
    check_directory(bytes, 0, summary, 4096, 5);
}

TEST_F(directory, FreeGapsAreZerosWhenCleared) {
    settings.clear_free_space = 1;
    add_numbered_entries(300, 30);
    dir_summary summary;
    std::string bytes = build(summary);
    std::string c2 = chunk(bytes, 2);
    EXPECT_EQ(c2.substr(20 + 2176, 4074 - 2176 - 24), std::string(4074 - 2176 - 24, '\0'));
    check_directory(bytes, 0, summary, 4096, 5);
}

TEST_F(directory, EmptyTableGivesOneEmptyLeaf) {
    dir_summary summary;
    std::string bytes = build(summary);
    expect_summary(summary, 1, 1, 0, 0xFFFFFFFF);
    EXPECT_EQ(bytes.substr(0, 4), "PMGL");
    EXPECT_EQ(le16(bytes, 4094), 0);
    EXPECT_EQ(le32(bytes, 4), 4076u);
}

// Only a chunk far larger than the default can hold 65535 entries; the
// 16-bit count then closes it whatever room is left.
TEST_F(directory, EntryCountLimitClosesAChunk) {
    settings.chunk_size = 1 << 19;
    for (uint32_t i = 0; i < 65536; i++) add_test_entry("a", 0, 0, 0);
    dir_summary summary = build_directory();
    std::string bytes = stream_bytes(run.output_file);
    expect_summary(summary, 2, 3, 1, 2);
    EXPECT_EQ(le16(bytes, settings.chunk_size - 2), 65535);
    EXPECT_EQ(le16(bytes, 2 * settings.chunk_size - 2), 1);
}

// Two index entries of 255-byte names with 5-byte chunk numbers take 524
// bytes, and an index chunk has 10 of its own.
TEST_F(directory, ChunkSizesThatCannotIndexTwoLongestNamesAreRefused) {
    for (uint16_t spacing : {5, 1}) {
        run.quickref_spacing = spacing;
        const uint32_t smallest = spacing == 1 ? 536 : 534;
        for (uint32_t chunk_size : {0u, 8u, smallest - 1, smallest, 4096u}) {
            SCOPED_TRACE(::testing::Message() << spacing << " " << chunk_size);
            settings.chunk_size = chunk_size;
            stdout_capture capture;
            const int result = check_chunk_size();
            EXPECT_EQ(result, chunk_size >= smallest ? 0 : -1);
            EXPECT_EQ(capture.finish(), chunk_size >= smallest ? "" : "ERROR: directory chunk size is too small\n");
        }
    }
}

TEST_F(directory, EntryLargerThanAnEmptyChunkEndsTheRun) {
    settings.chunk_size = 64;
    add_test_entry(numbered_name(1, 41), 0, 0, 0);
    EXPECT_ENDS_RUN(build_directory(), "ERROR: directory chunk size is too small\n");
}

// The previous run's chunk count must not leak into the numbering.
TEST_F(directory, NumberingStartsAtZeroEachTime) {
    add_numbered_entries(119, 30);
    dir_summary first = build_directory();
    dir_summary second = build_directory();
    expect_summary(second, first.depth, first.chunk_count, first.last_leaf, first.root_chunk);
}
