// Whole runs of the tool on small trees, read back by libmspack, chmlib and
// 7-Zip.
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include "its_check.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {
constexpr size_t frame = 32768;

class tree_round_trip : public ::testing::Test {
  protected:
    std::string input(void) { return work / "in"; }
    temp_dir work;
};
}  // namespace

TEST_F(tree_round_trip, ExampleSite) {
    fs::path site = fs::path(KELTO_SOURCE_DIR) / "examples/site";
    if (!fs::is_directory(site)) GTEST_SKIP() << "examples/site is not there yet";
    fs::copy(site, input(), fs::copy_options::recursive);
    pack_and_check(input(), work.path());
}

TEST_F(tree_round_trip, EmptyDirectory) {
    fs::create_directory(input());
    process_result result = run_kelto({input()});
    EXPECT_EQ(result.status, 0) << result.output;
    EXPECT_NE(result.output.find("WARNING: The input directory was empty (no files added)\n"), std::string::npos);
    check_with_every_reader(input() + ".its", expected_entries(input()), work.path());
}

TEST_F(tree_round_trip, OnlyEmptyFilesAndDirectories) {
    write_file(input() + "/a", "");
    write_file(input() + "/sub/b", "");
    write_file(input() + "/sub/deeper/c", "");
    fs::create_directories(input() + "/vacant");
    pack_and_check(input(), work.path());
}

TEST_F(tree_round_trip, FilesOnFrameBoundaries) {
    // Each file ends just before, on or just after a frame boundary, so that
    // the stream's frame ends fall inside files and between them. Read last
    // to first, every file is decoded from the reset point before it.
    const size_t sizes[] = {frame - 1, 1, frame, frame + 1, frame - 1, 2 * frame, 3 * frame + 1, 1};
    for (size_t i = 0; i < std::size(sizes); i++)
        write_file(input() + "/f" + std::to_string(i), sample_bytes(sizes[i], static_cast<uint32_t>(i)));
    pack_and_check(input(), work.path(), file_order::last_to_first);
}

TEST_F(tree_round_trip, StreamOfWholeFrames) {
    for (size_t frames : {1, 2, 3}) {
        SCOPED_TRACE(frames);
        std::string dir = work / ("whole" + std::to_string(frames));
        write_file(dir + "/only", sample_bytes(frames * frame, static_cast<uint32_t>(frames)));
        pack_and_check(dir, work.path());
    }
    std::string split = work / "split";
    write_file(split + "/a", sample_bytes(frame / 2, 5));
    write_file(split + "/b", sample_bytes(frame + frame / 2, 6));
    pack_and_check(split, work.path());
}

TEST_F(tree_round_trip, IncompressibleAndRepetitiveContent) {
    std::string noise(5 * frame + 123, '\0');
    uint32_t state = 1;
    for (char &byte : noise) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        byte = static_cast<char>(state);
    }
    write_file(input() + "/noise.bin", noise);
    write_file(input() + "/zeros.bin", std::string(4 * frame + 7, '\0'));
    write_file(input() + "/text.htm", sample_bytes(3 * frame, 77));
    pack_and_check(input(), work.path());
}

TEST_F(tree_round_trip, Utf8NamesAndCaseOrder) {
    write_file(input() + "/Zed.htm", "last by folded order");
    write_file(input() + "/_x", "underscore");
    write_file(input() + "/a-b", "dash");
    write_file(input() + "/a.txt", "dot");
    write_file(input() + "/a/x", "slash");
    write_file(input() + "/a0", "digit");
    write_file(input() + "/A_b", "capital");
    write_file(input() + "/ünïcödé/ファイル.html", "日本語のテキスト");
    write_file(input() + "/ünïcödé/Ωmega", sample_bytes(40000, 3));
    write_file(input() + "/emoji-😀.txt", "smile");
    pack_and_check(input(), work.path());
}

TEST_F(tree_round_trip, NestingUpToTheNameLimit) {
    // A chain of one-letter directories whose deepest file name is exactly
    // 255 bytes, plus a file and a directory one byte past the limit.
    std::string path;
    while (path.size() + 2 + 2 <= 255) path += "/d";
    std::string file = path + "/" + std::string(255 - path.size() - 1, 'f');
    ASSERT_EQ(file.size(), 255u);
    write_file(input() + file, "at the limit");
    write_file(input() + path + "/" + std::string(255 - path.size(), 'g'), "past the limit");
    write_file(input() + path + "/" + std::string(255 - path.size() - 1, 'h') + "/x", "under a long directory");
    write_file(input() + "/top", sample_bytes(70000, 11));

    std::vector<expected_entry> entries = expected_entries(input());
    bool has_limit_file = false;
    for (const expected_entry &entry : entries) {
        EXPECT_LE(entry.name.size(), 255u);
        has_limit_file |= entry.name == file;
    }
    EXPECT_TRUE(has_limit_file);

    process_result result = run_kelto({input()});
    ASSERT_EQ(result.status, 0) << result.output.substr(0, 4000);
    EXPECT_NE(result.output.find("WARNING: The ITSF format does not support files"), std::string::npos);
    EXPECT_NE(result.output.find("WARNING: The ITSF format does not support dirs"), std::string::npos);
    check_with_every_reader(input() + ".its", entries, work.path());
}

// The checker itself must notice a container that disagrees with the input.
TEST_F(tree_round_trip, CheckerNoticesWrongBytesAndPlaces) {
    write_file(input() + "/a.htm", sample_bytes(5000, 1));
    write_file(input() + "/b.htm", sample_bytes(5000, 2));
    std::vector<expected_entry> entries = expected_entries(input());
    std::string its = pack(input());
    write_file(input() + "/b.htm", sample_bytes(5000, 3));  // same length, other bytes
    entries[1].offset += 1;                                  // "/a.htm" claimed one byte later

    for (int reader = 0; reader < 3; reader++) {
        ::testing::TestPartResultArray failures;
        {
            ::testing::ScopedFakeTestPartResultReporter intercept(
                ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &failures);
            if (reader == 0) check_with_libmspack(its, entries);
            else if (reader == 1) check_with_chmlib(its, entries);
            else check_with_7zip(its, entries, work.path());
        }
        ASSERT_EQ(failures.size(), 1) << "reader " << reader;
        std::string message = failures.GetTestPartResult(0).message();
        EXPECT_NE(message.find("/b.htm: extracted bytes differ"), std::string::npos) << message;
        if (reader < 2) {
            EXPECT_NE(message.find("/a.htm: section 1 offset 0"), std::string::npos) << message;
        }
    }
}

TEST_F(tree_round_trip, FifoInTheTreeDoesNotStallTheRun) {
    write_file(input() + "/a.htm", sample_bytes(3000, 1));
    ASSERT_EQ(mkfifo((input() + "/pipe").c_str(), 0644), 0);
    write_file(input() + "/z.htm", sample_bytes(3000, 2));
    std::vector<expected_entry> entries = expected_entries(input());
    process_result result = run_process({KELTO_BINARY, input()}, "", 60);
    ASSERT_EQ(result.status, 0) << result.output;
    EXPECT_EQ(result.output.find("Reading pipe"), std::string::npos) << result.output;
    check_with_every_reader(input() + ".its", entries, work.path());
}

TEST_F(tree_round_trip, ClosedStandardOutputKeepsMessagesOutOfTheContainer) {
    // Enough progress lines to fill the output buffer of standard output
    // more than once.
    for (int i = 0; i < 300; i++)
        write_file(input() + "/page-" + std::to_string(i) + ".htm", sample_bytes(100, static_cast<uint32_t>(i)));
    std::vector<expected_entry> entries = expected_entries(input());
    // Closed, it is /dev/null; a full one loses the messages, which is
    // told on standard error, though the container is complete.
    for (const char *redirect : {">&-", ">/dev/full"}) {
        bool full = std::string(redirect) == ">/dev/full";
        process_result result =
            run_process({"/bin/sh", "-c", std::string("exec \"$0\" \"$1\" ") + redirect, KELTO_BINARY, input()});
        ASSERT_EQ(result.status, full ? 1 : 0) << result.output;
        EXPECT_EQ(result.output, full ? "ERROR: Could not write the messages to standard output\n" : "");
        EXPECT_EQ(read_file(input() + ".its").find("Reading page-"), std::string::npos);
        check_with_every_reader(input() + ".its", entries, work.path());
    }
}

TEST_F(tree_round_trip, AnEarlierOutputInTheTreeIsLeftOut) {
    // Packed, an earlier output would go into the container that replaces it.
    write_file(input() + "/a.htm", sample_bytes(3000, 1));
    ASSERT_EQ(symlink("../in.its", (input() + "/link-to-output").c_str()), 0);
    std::vector<expected_entry> entries = expected_entries(input());
    // The first run finds the link dangling, an entry it cannot read.
    ASSERT_EQ(run_kelto({"in"}, work.path()).status, 1);
    process_result again = run_kelto({"in"}, work.path());
    ASSERT_EQ(again.status, 0) << again.output;
    EXPECT_NE(again.output.find("WARNING: The input holds the output file as link-to-output (ignoring)\n"),
              std::string::npos)
        << again.output;
    check_with_every_reader(input() + ".its", entries, work.path());

    // Written inside the tree itself, beside a new file that a killed run
    // left; a name one letter short of one is packed.
    ASSERT_EQ(unlink((input() + "/link-to-output").c_str()), 0);
    write_file(input() + "/..its.AbC12", "packed");
    entries = expected_entries(input());
    write_file(input() + "/..its.AbC123", "left by a killed run");
    for (int run = 0; run < 2; run++) {
        process_result result = run_kelto({"in//"}, work.path());
        ASSERT_EQ(result.status, 0) << result.output;
        EXPECT_EQ(result.output.find("Reading .its"), std::string::npos) << result.output;
        EXPECT_NE(result.output.find("WARNING: The input holds an unfinished output of an earlier run as "
                                     "..its.AbC123 (ignoring; it may be deleted)\n"),
                  std::string::npos);
    }
    check_with_every_reader(input() + "/.its", entries, work.path());
}
