// The whole pass against the real LZX library.
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <string>

#include "catalogue/builtin_entries.h"
#include "compress/compress_pass.h"
#include "compress_fixture.h"
#include "run/run_state.h"
#include "run/run_steps.h"
#include "run/settings.h"

namespace {
std::string working_directory(void) {
    char buffer[PATH_MAX];
    return getcwd(buffer, sizeof buffer) ? buffer : "";
}

uint64_t temp_file_size(void) {
    fseek(run.temp_file, 0, SEEK_END);
    return static_cast<uint64_t>(ftell(run.temp_file));
}

// One reset point at the end of every frame of 32768 bytes.
uint64_t frames(uint64_t bytes) { return (bytes + 32767) / 32768; }
}  // namespace

class compress_pass : public compress_test {
  protected:
    void compress(const std::string &input_path) {
        path_text = input_path;
        run.input_path = path_text.data();
        stdout_capture capture;
        compress_content();
        printed = capture.finish();
    }

    void expect_consistent_results(uint64_t input_bytes) {
        const uint64_t resets = run.reset_table.count;
        EXPECT_EQ(run.compress_results.uncompressed_length, input_bytes);
        EXPECT_EQ(resets, frames(input_bytes));
        EXPECT_EQ(temp_file_size(), run.compress_results.compressed_length);
        EXPECT_EQ(reset_table_entry.length, 48 + 8 * resets);
        EXPECT_EQ(content_entry.offset, reset_table_entry.offset + reset_table_entry.length);
        EXPECT_EQ(content_entry.length, run.compress_results.compressed_length);
        for (uint64_t i = 1; i < resets; i++) EXPECT_LT(run.reset_table.values[i - 1], run.reset_table.values[i]);
        // The last reset point ends the stream, but for the two bytes that
        // follow an input of whole frames for readers that read ahead.
        if (resets > 0) {
            uint64_t tail = input_bytes % 32768 == 0 ? 2 : 0;
            EXPECT_EQ(run.reset_table.values[resets - 1] + tail, run.compress_results.compressed_length);
        }
    }

    std::string path_text;
    std::string printed;
};

TEST_F(compress_pass, InputWithoutFilesGivesAnEmptyStream) {
    add_dir("/");
    add_dir("/empty/");
    add_builtins();
    compress(tree.path());

    EXPECT_EQ(printed, "");
    EXPECT_EQ(run.total_bytes, 0u);
    expect_consistent_results(0);
    EXPECT_EQ(content_entry.offset, 182 + 8 * run.reset_table.count);
}

TEST_F(compress_pass, FilesSpanningFramesAreRecordedInOrder) {
    std::string a = pattern_bytes(40000, 1);
    std::string b(30000, 'b');
    std::string c = pattern_bytes(30001, 3);
    its_entry *ea = make_file("A", a);
    its_entry *eb = make_file("b", b);
    make_file("c-empty", "");
    its_entry *ec = make_file("c", c);
    add_builtins();
    compress(tree.path());

    EXPECT_EQ(ea->offset, 0u);
    EXPECT_EQ(eb->offset, 40000u);
    EXPECT_EQ(ec->offset, 70000u);
    EXPECT_EQ(ec->length, 30001u);
    EXPECT_EQ(run.total_bytes, 100001u);
    expect_consistent_results(100001);
    EXPECT_EQ(content_entry.offset, 182 + 8 * run.reset_table.count);
    EXPECT_EQ(printed, "Reading A ... done\nReading b ... done\nReading c-empty ... done\nReading c ... done\n");
}

TEST_F(compress_pass, InputOfWholeFramesEndsWithoutAnEmptyFrame) {
    make_file("x", pattern_bytes(65536, 9));
    add_builtins();
    compress(tree.path());
    expect_consistent_results(65536);
}

TEST_F(compress_pass, ContentFollowsTheLoweredResetTable) {
    settings.write_transform_list = 0;
    ASSERT_EQ(derive_settings(), 0);
    make_file("x", "some bytes");
    add_builtins();
    compress(tree.path());
    expect_consistent_results(10);
    EXPECT_EQ(content_entry.offset, 144 + 8 * run.reset_table.count);
}

TEST_F(compress_pass, WorkingDirectoryIsKeptForEveryPathForm) {
    write_file(tree / "outer/inner/f", "payload");
    const std::string start = working_directory();
    struct form {
        std::string cwd;
        std::string path;
    };
    for (const form &f : {form{tree.path(), "outer"}, form{tree.path(), "outer/"}, form{tree.path(), "outer/inner"},
                          form{"/", tree / "outer/inner"}, form{tree / "outer/inner", "."}}) {
        SCOPED_TRACE(f.cwd + " : " + f.path);
        TearDown();
        SetUp();
        std::string relative = f.path == "." || f.path.find("inner") != std::string::npos ? "f" : "inner/f";
        its_entry *entry = add_file("/" + relative);
        add_builtins();
        ASSERT_EQ(chdir(f.cwd.c_str()), 0);
        compress(f.path);
        EXPECT_EQ(working_directory(), f.cwd == "/" ? "/" : f.cwd);
        ASSERT_EQ(chdir(start.c_str()), 0);
        EXPECT_EQ(entry->length, 7u) << printed;
    }
}

TEST_F(compress_pass, RefusedWindowEndsTheRun) {
    settings.window_bits = 22;
    make_file("x", "bytes");
    add_builtins();
    path_text = tree.path();
    run.input_path = path_text.data();
    EXPECT_EXIT(
        {
            dup2(STDERR_FILENO, STDOUT_FILENO);
            compress_content();
        },
        ::testing::ExitedWithCode(255), "ERROR: LZX initialization failed");
}

TEST_F(compress_pass, WalkedTreeIsFedInCatalogueOrder) {
    write_file(tree / "b.htm", "bee");
    write_file(tree / "A/z.htm", "zed");
    write_file(tree / "a0", "a-zero");
    path_text = tree.path();
    run.input_path = path_text.data();
    stdout_capture capture;
    ASSERT_EQ(catalogue_input(), 0);
    compress_content();
    printed = capture.finish();
    // "/a/" sorts before "/a0" once capitals fold: "/" is below the digits.
    EXPECT_EQ(printed, "Reading A/z.htm ... done\nReading a0 ... done\nReading b.htm ... done\n");
    expect_consistent_results(12);
}

TEST_F(compress_pass, FlattenedNamesAreReadFromWhereTheyLie) {
    settings.flatten_names = 1;
    write_file(tree / "deep/down/inner.htm", "from below");
    write_file(tree / "top.htm", "on top");
    path_text = tree.path();
    run.input_path = path_text.data();
    stdout_capture capture;
    ASSERT_EQ(catalogue_input(), 0);
    compress_content();
    printed = capture.finish();
    EXPECT_EQ(printed, "Reading inner.htm ... done\nReading top.htm ... done\n");
    expect_consistent_results(16);
}
