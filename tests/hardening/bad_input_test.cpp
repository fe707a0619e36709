// Input that changes under the run, cannot be read, or has names that look
// like anything but names.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "hardening_support.h"

namespace {
bool contains(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

class bad_input : public ::testing::Test {
  protected:
    void SetUp() override { tree = work / "tree"; }
    temp_dir work;
    std::string tree;
};
}  // namespace

// The walk measured the files; by the time each is opened it has shrunk,
// grown, vanished or become a pipe with no writer; or it changes while it
// is read.
TEST_F(bad_input, FilesChangedBetweenTheWalkAndTheRead) {
    if (!fault_shim_usable()) GTEST_SKIP() << "the sanitizer runtime owns malloc; the fault shim cannot be preloaded";
    int files = make_sample_tree(tree, 30);
    const std::pair<const char *, const char *> cases[] = {
        {"openat_input", "shrink"}, {"openat_input", "grow"}, {"openat_input", "remove"}, {"openat_input", "fifo"},
        {"openat_input", "device"}, {"fread_input", "shrink"}, {"fread_input", "grow"}};
    for (const auto &[call, change] : cases) {
        // The first, a middle and the last file opened or read.
        for (unsigned long n : {1ul, 12ul, static_cast<unsigned long>(files)}) {
            make_sample_tree(tree, 30);
            process_result result = run_with_fault(tree, call, n, change);
            // The container holds each file as it was when opened, or as
            // read when it changed then; a vanished or changed one makes it
            // incomplete.
            bool reading = std::string(call) == "fread_input";
            EXPECT_EQ(result.status, reading || std::string(change) == "remove" ? 1 : 0)
                << call << " " << change << " " << n << result.output;
            EXPECT_EQ(judge_outcome(tree, result), "") << call << " " << change << " " << n;
            if (reading) {
                EXPECT_TRUE(contains(result.output, " changed while it was read (stored as read)\n")) << result.output;
            }
            if (std::string(change) == "remove") {
                EXPECT_TRUE(contains(result.output, "ERROR: Failed opening "));
            }
            // A link to /dev/zero in a file's place is not read without end.
            if (std::string(change) == "device") {
                EXPECT_TRUE(contains(result.output, "WARNING: No longer a regular file: ")) << result.output;
            }
            remove_tree(tree);
        }
    }
}

TEST_F(bad_input, UnreadableFileIsReportedAndLeftEmpty) {
    if (geteuid() == 0 && access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "running as root without setpriv";
    write_file(tree + "/open.htm", "<p>readable</p>");
    write_file(tree + "/secret.htm", "<p>not for you</p>");
    write_file(tree + "/sub/after.htm", "<p>still read</p>");
    ASSERT_EQ(chmod((tree + "/secret.htm").c_str(), 0), 0);
    // Followed as tar -h and rsync -L follow links: one leading nowhere
    // is an entry that could not be read.
    ASSERT_EQ(symlink("nowhere", (tree + "/dangling").c_str()), 0);
    // The output is written beside the tree by whoever runs kelto.
    ASSERT_EQ(chmod(work.path().c_str(), 0777), 0);
    std::vector<std::string> argv{KELTO_BINARY, tree};
    if (geteuid() == 0) {
        // Root reads anything; an ordinary user does not.
        argv.insert(argv.begin(), {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
    }
    process_result result = run_process(argv);
    EXPECT_TRUE(contains(result.output, "ERROR: Failed opening secret.htm\n")) << result.output;
    EXPECT_TRUE(contains(result.output, "ERROR: Could not read all of the input: 2 entries are missing or incomplete"));
    EXPECT_EQ(judge_outcome(tree, result), "") << result.output;
}

// Names are printed as data, never as formats, and kept byte for byte.
TEST_F(bad_input, NamesWithNewlinesFormatDirectivesAndInvalidUtf8) {
    const std::string odd_names[] = {"line\nbreak.htm", "%s%n%x%p.htm", "100%.htm", "bad-\xff\xfe-utf8.htm",
                                     "%n%n%n/inner %s.htm", "tab\there.htm", " leading space.htm"};
    for (const std::string &name : odd_names) write_file(tree + "/" + name, "<p>" + name + "</p>");
    process_result result = run_kelto({tree});
    EXPECT_EQ(result.status, 0) << result.output;
    EXPECT_TRUE(contains(result.output, "Reading %s%n%x%p.htm ... done\n")) << result.output;
    EXPECT_TRUE(contains(result.output, "Reading line\nbreak.htm ... done\n")) << result.output;
    EXPECT_TRUE(contains(result.output, "Reading %n%n%n/inner %s.htm ... done\n")) << result.output;
    EXPECT_TRUE(contains(result.output, "Reading bad-\xff\xfe-utf8.htm ... done\n")) << result.output;
    EXPECT_EQ(judge_outcome(tree, result), "");
}

TEST_F(bad_input, WarningsNameOddDirectoriesLiterally) {
    if (!fault_shim_usable()) GTEST_SKIP() << "the sanitizer runtime owns malloc; the fault shim cannot be preloaded";
    write_file(tree + "/%s%n%s/page.htm", "<p>x</p>");
    write_file(tree + "/plain.htm", "<p>y</p>");
    // The one subdirectory cannot be opened.
    process_result result = run_with_fault(tree, "openat_dir", 2);
    EXPECT_TRUE(contains(result.output, "WARNING: Could not open directory %s%n%s/ (ignoring)\n")) << result.output;
    EXPECT_EQ(judge_outcome(tree, result), "");
}

// A named pipe where the output goes has no reader: the run must not wait
// for one, and the pipe is not the run's to remove.
TEST_F(bad_input, OutputThatIsANamedPipeIsRefusedAtOnce) {
    write_file(tree + "/page.htm", "<p>x</p>");
    std::string its = tree + ".its";
    ASSERT_EQ(mkfifo(its.c_str(), 0644), 0);
    // Without a reader the open fails; with one it succeeds, but the pipe
    // cannot take the patches at the end and is not the run's to remove.
    for (bool with_reader : {false, true}) {
        int reader = -1;
        if (with_reader) {
            reader = open(its.c_str(), O_RDONLY | O_NONBLOCK);
            ASSERT_GE(reader, 0);
        }
        process_result result = run_process({KELTO_BINARY, tree}, "", 20);
        if (reader >= 0) close(reader);
        EXPECT_EQ(result.status, 255) << result.output;
        EXPECT_TRUE(contains(result.output, "ERROR: Could not open output file " + its + "\n")) << result.output;
        struct stat status;
        ASSERT_EQ(lstat(its.c_str(), &status), 0) << with_reader;
        EXPECT_TRUE(S_ISFIFO(status.st_mode));
    }
}
