#include "container/container_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

#include "container_fixture.h"

namespace {
const std::string guid_1("\x10\xFD\x01\x7C\xAA\x7B\xD0\x11\x9E\x0C\x00\xA0\xC9\x22\xE6\xEC", 16);
const std::string guid_2("\x11\xFD\x01\x7C\xAA\x7B\xD0\x11\x9E\x0C\x00\xA0\xC9\x22\xE6\xEC", 16);
const std::string itsp_guid("\x6A\x92\x02\x5D\x2E\x21\xD0\x11\x9D\xF9\x00\xA0\xC9\x22\xE6\xEC", 16);

std::string utf16(const std::string &ascii) {
    std::string text;
    for (char c : ascii) text += std::string(1, c) + '\0';
    return text;
}

std::string u16(uint16_t v) { return std::string{static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)}; }

const std::string namelist =
    u16(30) + u16(2) + u16(12) + utf16("Uncompressed") + u16(0) + u16(12) + utf16("MSCompressed") + u16(0);

struct header_fields {
    uint32_t depth, root, last_leaf, chunks;
};

// The ITSP header at `at` with the directory's four patched values.
void expect_itsp_header(const std::string &f, size_t at, const header_fields &h) {
    EXPECT_EQ(f.substr(at, 4), "ITSP");
    EXPECT_EQ(le32(f, at + 4), 1u);
    EXPECT_EQ(le32(f, at + 8), 84u);
    EXPECT_EQ(le32(f, at + 12), 10u);
    EXPECT_EQ(le32(f, at + 16), 4096u);
    EXPECT_EQ(le32(f, at + 20), 2u);
    EXPECT_EQ(le32(f, at + 24), h.depth);
    EXPECT_EQ(le32(f, at + 28), h.root);
    EXPECT_EQ(le32(f, at + 32), 0u);
    EXPECT_EQ(le32(f, at + 36), h.last_leaf);
    EXPECT_EQ(le32(f, at + 40), 0xFFFFFFFFu);
    EXPECT_EQ(le32(f, at + 44), h.chunks);
    EXPECT_EQ(le32(f, at + 48), 1033u);
    EXPECT_EQ(f.substr(at + 52, 16), itsp_guid);
    EXPECT_EQ(le32(f, at + 68), 84u);
    EXPECT_EQ(le32(f, at + 72), 0xFFFFFFFFu);
    EXPECT_EQ(le32(f, at + 76), 0xFFFFFFFFu);
    EXPECT_EQ(le32(f, at + 80), 0xFFFFFFFFu);
}
}  // namespace

// Ten small files: the whole directory is one leaf.
TEST_F(container, OneLeafLayoutFieldByField) {
    catalogue_files(10);
    std::string content = pattern_bytes(1000);
    compressed(content, {100, 200, 300});
    std::string f = write();
    const uint32_t r = 3, z = 1000;
    ASSERT_EQ(f.size(), 4482 + 8 * r + z);

    EXPECT_EQ(f.substr(0, 4), "ITSF");
    EXPECT_EQ(le32(f, 4), 3u);
    EXPECT_EQ(le32(f, 8), 96u);
    EXPECT_EQ(le32(f, 12), 1u);
    EXPECT_EQ(le32(f, 16), 0u);
    EXPECT_EQ(le32(f, 20), 1033u);
    EXPECT_EQ(f.substr(24, 16), guid_1);
    EXPECT_EQ(f.substr(40, 16), guid_2);
    EXPECT_EQ(le64(f, 56), 96u);
    EXPECT_EQ(le64(f, 64), 24u);
    EXPECT_EQ(le64(f, 72), 120u);
    EXPECT_EQ(le64(f, 80), 4180u);
    EXPECT_EQ(le64(f, 88), 4300u);

    EXPECT_EQ(le32(f, 96), 510u);
    EXPECT_EQ(le32(f, 100), 0u);
    EXPECT_EQ(le64(f, 104), f.size());
    EXPECT_EQ(le32(f, 112), 0u);
    EXPECT_EQ(le32(f, 116), 0u);

    expect_itsp_header(f, 120, {1, 0xFFFFFFFF, 0, 1});
    EXPECT_EQ(f.substr(204, 4), "PMGL");

    EXPECT_EQ(f.substr(4300, 60), namelist);
    EXPECT_EQ(f.substr(4360, 38), utf16("{7FC28940-9D31-11D0"));
    EXPECT_EQ(le64(f, 4398), 1000u);  // SpanInfo: U
    EXPECT_EQ(le32(f, 4406), 6u);
    EXPECT_EQ(f.substr(4410, 4), "LZXC");
    EXPECT_EQ(le32(f, 4414), 2u);
    EXPECT_EQ(le32(f, 4418), 2u);  // reset interval
    EXPECT_EQ(le32(f, 4422), 2u);  // window size
    EXPECT_EQ(le32(f, 4426), 1u);  // windows per reset
    EXPECT_EQ(le32(f, 4430), 0u);
    const size_t rt = 4434;
    EXPECT_EQ(le32(f, rt), 2u);
    EXPECT_EQ(le32(f, rt + 4), r + 1);
    EXPECT_EQ(le32(f, rt + 8), 8u);
    EXPECT_EQ(le32(f, rt + 12), 40u);
    EXPECT_EQ(le64(f, rt + 16), 1000u);
    EXPECT_EQ(le64(f, rt + 24), z);
    EXPECT_EQ(le64(f, rt + 32), 32768u);
    EXPECT_EQ(le64(f, rt + 40), 0u);
    EXPECT_EQ(le64(f, rt + 48), 100u);
    EXPECT_EQ(le64(f, rt + 56), 200u);
    EXPECT_EQ(le64(f, rt + 64), 300u);
    EXPECT_EQ(f.substr(4482 + 8 * r), content);

    // The directory lists the section-0 files where they were written.
    std::string leaf = f.substr(204, 4096);
    parsed_chunk chunk = parse_chunk(leaf, 0, 4096);
    ASSERT_EQ(chunk.count, 17);
    for (size_t i = 10; i < 17; i++) {
        EXPECT_EQ(chunk.section[i], 0u);
    }
    EXPECT_EQ(chunk.names[11], "::DataSpace/Storage/MSCompressed/Content");
    EXPECT_EQ(chunk.offset[11], 182 + 8 * r);
    EXPECT_EQ(chunk.length[11], z);
    EXPECT_EQ(chunk.offset[16], 134u);
    EXPECT_EQ(chunk.length[16], 48 + 8 * r);
}

TEST_F(container, TwoLeavesAndAnIndex) {
    catalogue_files(150);
    compressed(pattern_bytes(10), {});
    std::string f = write();
    EXPECT_EQ(le64(f, 80), 12372u);
    EXPECT_EQ(le64(f, 88), 12492u);
    EXPECT_EQ(le64(f, 104), f.size());
    expect_itsp_header(f, 120, {2, 2, 1, 3});
    EXPECT_EQ(f.substr(204 + 2 * 4096, 4), "PMGI");
    EXPECT_EQ(f.substr(12492, 60), namelist);
    dir_summary summary = {2, 3, 1, 2};
    check_directory(f, 204, summary, 4096, 5);
}

TEST_F(container, VersionTwoHeaderHasNoSectionOffset) {
    settings.itsf_version = 2;
    catalogue_files(10);
    compressed(pattern_bytes(7), {5});
    std::string f = write();
    ASSERT_EQ(f.size(), 4482 - 8 + 8 + 7u);
    EXPECT_EQ(le32(f, 4), 2u);
    EXPECT_EQ(le32(f, 8), 88u);
    EXPECT_EQ(le64(f, 56), 88u);
    EXPECT_EQ(le64(f, 72), 112u);
    EXPECT_EQ(le64(f, 80), 4180u);
    EXPECT_EQ(le32(f, 88), 510u);  // header section 0 begins where the offset would be
    EXPECT_EQ(le64(f, 96), f.size());
    expect_itsp_header(f, 112, {1, 0xFFFFFFFF, 0, 1});
    EXPECT_EQ(f.substr(196, 4), "PMGL");
    EXPECT_EQ(f.substr(4292, 60), namelist);
}

// Versions without a layout of their own are written like version 3.
TEST_F(container, OtherVersionsUseTheVersionThreeLayout) {
    settings.itsf_version = 4;
    catalogue_files(10);
    compressed("", {});
    std::string f = write();
    EXPECT_EQ(le32(f, 4), 4u);
    EXPECT_EQ(le32(f, 8), 96u);
    EXPECT_EQ(le64(f, 88), 4300u);
    expect_itsp_header(f, 120, {1, 0xFFFFFFFF, 0, 1});
}

TEST_F(container, WithoutTransformListSectionZeroIsShorter) {
    settings.write_transform_list = 0;
    catalogue_files(10);
    compressed(pattern_bytes(20), {});
    std::string f = write();
    ASSERT_EQ(f.size(), 4300 + 144 + 20u);
    EXPECT_EQ(f.substr(4300, 60), namelist);
    EXPECT_EQ(le64(f, 4360), 1000u);  // SpanInfo at 60
    EXPECT_EQ(f.substr(4372, 4), "LZXC");  // ControlData at 68
    EXPECT_EQ(le32(f, 4396), 2u);  // ResetTable at 96
    EXPECT_EQ(le32(f, 4400), 1u);
    EXPECT_EQ(f.substr(4444), pattern_bytes(20));
    parsed_chunk chunk = parse_chunk(f, 204, 4096);
    ASSERT_EQ(chunk.count, 16);
    EXPECT_EQ(chunk.names[13], "::DataSpace/Storage/MSCompressed/SpanInfo");
    EXPECT_EQ(chunk.offset[13], 60u);
    EXPECT_EQ(chunk.offset[15], 96u);
}

// Windows per reset is half the window size, rounded down.
TEST_F(container, ControlDataFollowsTheWindowCode) {
    for (uint32_t code : {1u, 2u, 0x40u}) {
        SCOPED_TRACE(code);
        TearDown();
        SetUp();
        settings.window_size_code = settings.reset_interval = code;
        catalogue_files(1);
        compressed("", {});
        std::string f = write();
        EXPECT_EQ(le32(f, 4418), code);
        EXPECT_EQ(le32(f, 4422), code);
        EXPECT_EQ(le32(f, 4426), code / 2);
    }
}

TEST_F(container, AsciiTransformList) {
    settings.list_guid_utf16 = 0;
    catalogue_files(3);
    compressed("", {});
    std::string f = write();
    EXPECT_EQ(f.substr(4360, 38), "{7FC28940-9D31-11D0-9B27-00A0C91E9C7C}");
    EXPECT_EQ(le64(f, 4398), 300u);
}

TEST_F(container, EmptyResetTableHasOnlyItsZeroEntry) {
    catalogue_files(3);
    compressed("", {});
    std::string f = write();
    ASSERT_EQ(f.size(), 4482u);
    EXPECT_EQ(le32(f, 4434 + 4), 1u);
    EXPECT_EQ(le64(f, 4434 + 24), 0u);
    EXPECT_EQ(le64(f, 4434 + 40), 0u);
    EXPECT_EQ(le64(f, 104), 4482u);
}

// Whole multiples of the copy buffer end with an empty read; other sizes end
// with a short block. Either way every byte arrives.
TEST_F(container, ContentCopiedWholeForAnySize) {
    for (size_t size : {0, 1, 511, 512, 513, 1536, 4000}) {
        SCOPED_TRACE(size);
        TearDown();
        SetUp();
        catalogue_files(2);
        std::string content = pattern_bytes(size);
        compressed(content, {});
        std::string f = write();
        ASSERT_EQ(f.size(), 4482 + size);
        EXPECT_EQ(f.substr(4482), content);
        EXPECT_EQ(le64(f, 4434 + 24), size);
    }
}

TEST(copy_content, CopiesFromTheCurrentPositionAndCountsBytes) {
    FILE *from = tmpfile();
    FILE *to = tmpfile();
    std::string bytes = pattern_bytes(1600);
    fwrite(bytes.data(), 1, bytes.size(), from);
    fseek(from, 64, SEEK_SET);
    EXPECT_EQ(copy_content(to, from), 1536u);
    EXPECT_EQ(stream_bytes(to), bytes.substr(64));
    fclose(from);
    fclose(to);
}

TEST_F(container, UnwritableOutputEndsTheRun) {
    catalogue_files(3);
    compressed("abc", {});
    write_file(output_path(), "");
    open_output("rb");
    EXPECT_ENDS_RUN(write_container(), "ERROR: Output file write error\n");
}

TEST_F(container, FullDeviceEndsTheRun) {
    catalogue_files(3);
    compressed("abc", {});
    run.output_file = fopen("/dev/full", "wb");
    ASSERT_NE(run.output_file, nullptr);
    EXPECT_ENDS_RUN(write_container(), "ERROR: Output file write error\n");
}

TEST_F(container, UnreadableTemporaryFileEndsTheRun) {
    catalogue_files(3);
    compressed("abc", {});
    fclose(run.temp_file);
    run.temp_file = fopen((dir / "temp").c_str(), "wb");
    ASSERT_NE(run.temp_file, nullptr);
    open_output();
    EXPECT_ENDS_RUN(write_container(), "ERROR: Output file write error or temporary file read error\n");
}

// A pipe takes the bytes but not the seeks over the patched fields; the
// result would be a shifted, unpatched file, so it is an output error.
TEST_F(container, UnseekableOutputEndsTheRun) {
    catalogue_files(3);
    compressed("abc", {});
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    fcntl(ends[1], F_SETPIPE_SZ, 1 << 20);
    run.output_file = fdopen(ends[1], "wb");
    ASSERT_NE(run.output_file, nullptr);
    EXPECT_ENDS_RUN(write_container(), "ERROR: Output file write error\n");
    close(ends[0]);
}

TEST_F(container, FinishedFileHasNoErrorAndStaysOpen) {
    catalogue_files(3);
    compressed("abc", {});
    open_output();
    write_container();
    EXPECT_FALSE(ferror(run.output_file));
    EXPECT_EQ(fseek(run.output_file, 0, SEEK_END), 0);
    EXPECT_EQ(ftell(run.output_file), 4485);
}
