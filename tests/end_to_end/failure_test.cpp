// Runs that fail: status 255, and an .its file that existed left as it was.
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "its_check.h"
#include "test_support.h"

namespace {
// Runs kelto on dir through the shell with limits set first; SIGXFSZ is
// ignored so that writing past the file size limit fails with an error.
process_result run_limited(const std::string &limits, const std::string &dir) {
    std::string script = "trap '' XFSZ; " + limits + " || exit 99; exec \"$0\" \"$1\"";
    return run_process({"/bin/sh", "-c", script, KELTO_BINARY, dir});
}

class failure : public ::testing::Test {
  protected:
    void SetUp() override {
        in = work / "in";
        its = in + ".its";
    }
    // An earlier output of the same name, which a failed run must keep.
    void leave_old_output(void) { write_file(its, "an older container"); }

    void expect_failed(const process_result &result, const std::string &message) {
        EXPECT_EQ(result.status, 255) << result.output;
        EXPECT_NE(result.output.find(message), std::string::npos) << result.output;
        EXPECT_EQ(read_file(its), "an older container");
        // Nothing but the input and the older container.
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(work.path()), {}), 2);
    }

    temp_dir work;
    std::string in;
    std::string its;
};
}  // namespace

TEST_F(failure, OutputWriteErrorRemovesTheOutput) {
    write_file(in + "/small.txt", "a few bytes");
    leave_old_output();
    // Room for the headers but not for the first directory chunk.
    expect_failed(run_limited("ulimit -f 4", in), "ERROR: Output file write error");

    // Through a symbolic link the file replaced is the link's target.
    std::string target = work / "elsewhere.its";
    ASSERT_EQ(rename(its.c_str(), target.c_str()), 0);
    ASSERT_EQ(symlink("elsewhere.its", its.c_str()), 0);
    process_result result = run_limited("ulimit -f 4", in);
    EXPECT_EQ(result.status, 255) << result.output;
    EXPECT_EQ(read_file(target), "an older container");
    ASSERT_EQ(run_kelto({in}).status, 0);
    // The link is the user's; it is left, leading to the new container.
    EXPECT_TRUE(std::filesystem::is_symlink(its));
    check_with_libmspack(target, expected_entries(in));
}

TEST_F(failure, TemporaryFileWriteErrorRemovesTheOutput) {
    std::string noise(300000, '\0');
    uint32_t state = 9;
    for (char &byte : noise) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<char>(state >> 24);
    }
    write_file(in + "/noise.bin", noise);
    leave_old_output();
    expect_failed(run_limited("ulimit -f 64", in), "ERROR: Temporary file write error");
}

TEST_F(failure, TemporaryFileThatCannotBeCreatedRemovesTheOutput) {
    write_file(in + "/a", "bytes");
    leave_old_output();
    // Descriptors 0-2 and the output use up the limit, once whatever the
    // test runner left open is closed (bash: dash names only fds 0-9).
    std::string script =
        "for fd in /proc/self/fd/*; do n=${fd##*/}; if [ \"$n\" -gt 2 ]; then eval \"exec $n>&-\"; fi; done 2>/dev/null; "
        "ulimit -n 4 || exit 99; exec \"$0\" \"$1\"";
    expect_failed(run_process({"/bin/bash", "-c", script, KELTO_BINARY, in}),
                  "ERROR: Could not open temporary output file");
}

TEST_F(failure, OutputThatCannotBeOpenedIsLeftAlone) {
    write_file(in + "/a", "bytes");
    ASSERT_EQ(mkdir(its.c_str(), 0755), 0);
    process_result result = run_kelto({in});
    EXPECT_EQ(result.status, 255);
    EXPECT_NE(result.output.find("ERROR: Could not open output file " + its), std::string::npos) << result.output;
    EXPECT_TRUE(path_exists(its));
}

TEST_F(failure, ArgumentsThatAreNotADirectoryCreateNothing) {
    write_file(work / "project.hhp.txt", "[OPTIONS]\n");
    struct attempt {
        std::vector<std::string> args;
        std::string message;
    };
    for (const attempt &a : {attempt{{}, "Usage: kelto"}, attempt{{in, in}, "Usage: kelto"},
                             attempt{{work / "missing"}, "ERROR: Could not find the input dir or .hhp file"},
                             attempt{{work / "project.hhp.txt"}, "neither a directory nor a .hhp project file"}}) {
        process_result result = run_kelto(a.args);
        EXPECT_EQ(result.status, 255) << result.output;
        EXPECT_NE(result.output.find(a.message), std::string::npos) << result.output;
    }
    EXPECT_FALSE(path_exists(work / "missing.its"));
    EXPECT_FALSE(path_exists(work / "project.hhp.txt.its"));
    EXPECT_EQ(read_file(work / "project.hhp.txt"), "[OPTIONS]\n");
}
