#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include <gtest/gtest.h>

#include "test_support.h"

// The tool run as a process: what it prints, its status, and what it leaves
// on disk. Until compression and the container writer are wired in, a run
// that gets as far as opening its output ends there and the exit handler
// removes the unfinished file.

namespace {
const std::string usage =
    "Usage: kelto [options] <dir> | <project.hhp>\n"
    "Converts <dir> into an .its file\n"
    "OR\n"
    "Converts <project.hhp> into a .chm file\n"
    "\n";

std::vector<std::string> listing(const std::string &dir) {
    std::vector<std::string> names;
    for (const auto &item : std::filesystem::directory_iterator(dir)) names.push_back(item.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

bool reached_output(const process_result &result) { return result.status == 0 || result.status == 255; }
}  // namespace

TEST(command_line, WrongArgumentCountPrintsUsage) {
    temp_dir work;
    for (const std::vector<std::string> &args : {std::vector<std::string>{}, std::vector<std::string>{"a", "b"},
                                                 std::vector<std::string>{"a", "b", "c"}}) {
        process_result result = run_kelto(args, work.path());
        EXPECT_EQ(result.status, 255);
        ASSERT_EQ(result.output.compare(0, usage.size(), usage), 0) << result.output;
        std::string rest = result.output.substr(usage.size());
        EXPECT_EQ(rest.compare(0, 10, "kelto 0.1\n"), 0) << rest;
        EXPECT_NE(rest.find("free software"), std::string::npos);
        EXPECT_NE(rest.find("NO WARRANTY"), std::string::npos);
        EXPECT_EQ(std::count(rest.begin(), rest.end(), '\n'), 2);
    }
    EXPECT_TRUE(listing(work.path()).empty());
}

TEST(command_line, MissingPathAndRegularFileAreRefused) {
    temp_dir work;
    write_file(work / "notes.txt", "[OPTIONS]\n");
    process_result missing = run_kelto({"nowhere"}, work.path());
    EXPECT_EQ(missing.status, 255);
    EXPECT_EQ(missing.output, "ERROR: Could not find the input dir or .hhp file\n");
    // --help and --version that name nothing print the usage; a file of that
    // name is a path like any other.
    for (const char *option : {"--help", "--version"}) {
        process_result asked = run_kelto({option}, work.path());
        EXPECT_EQ(asked.status, 0);
        EXPECT_EQ(asked.output.compare(0, usage.size(), usage), 0) << asked.output;
    }
    write_file(work / "--help", "x");
    process_result option = run_kelto({"--help"}, work.path());
    EXPECT_EQ(option.status, 255);
    EXPECT_EQ(option.output, "ERROR: --help is neither a directory nor a .hhp project file: kelto takes one of these\n");

    process_result file = run_kelto({"notes.txt"}, work.path());
    EXPECT_EQ(file.status, 255);
    EXPECT_EQ(file.output, "ERROR: notes.txt is neither a directory nor a .hhp project file: kelto takes one of these\n");
    EXPECT_EQ(listing(work.path()), (std::vector<std::string>{"--help", "notes.txt"}));
    EXPECT_EQ(read_file(work / "notes.txt"), "[OPTIONS]\n");
}

TEST(command_line, InvalidInputIsWarnedAndLeavesNoFileBehind) {
    temp_dir work;
    ASSERT_EQ(mkdir((work / "empty").c_str(), 0755), 0);
    write_file(work / "site/index.html", "<p>hi</p>");
    ASSERT_EQ(mkfifo((work / "site/fifo").c_str(), 0644), 0);

    process_result empty = run_kelto({"empty"}, work.path());
    ASSERT_TRUE(reached_output(empty));
    EXPECT_NE(empty.output.find("WARNING: The input directory was empty (no files added)\n"), std::string::npos);

    process_result site = run_kelto({"site"}, work.path());
    ASSERT_TRUE(reached_output(site));
    EXPECT_NE(site.output.find("WARNING: Not a regular file or directory: fifo (ignoring)\n"), std::string::npos);
    EXPECT_EQ(site.output.find("empty"), std::string::npos);
    if (site.status != 0) {
        // An unfinished run leaves nothing behind.
        EXPECT_EQ(listing(work.path()), (std::vector<std::string>{"empty", "site"}));
    }
}

TEST(command_line, OutputIsNamedAfterTheDirectory) {
    // The run opens its output as the last step before compression: a
    // directory of that name in the way makes the open fail, and the message
    // tells which name was built.
    temp_dir work;
    write_file(work / "d/page.html", "x");
    struct {
        std::string arg, output_name;
    } cases[] = {
        {"d", "d.its"},
        {"d/", "d.its"},
        {"d//", "d/.its"},
        {"./d", "./d.its"},
        {work / "d", work / "d.its"},
    };
    for (const auto &c : cases) {
        std::string blocker = c.output_name[0] == '/' ? c.output_name : work / c.output_name;
        ASSERT_EQ(mkdir(blocker.c_str(), 0755), 0) << blocker;
        process_result result = run_kelto({c.arg}, work.path());
        EXPECT_EQ(result.status, 255) << c.arg;
        EXPECT_NE(result.output.find("ERROR: Could not open output file " + c.output_name + "\n"), std::string::npos)
            << c.arg << ": " << result.output;
        // The file that could not be opened is left alone.
        EXPECT_TRUE(path_exists(blocker));
        ASSERT_EQ(rmdir(blocker.c_str()), 0);
    }
}

TEST(command_line, ExistingFileIsLeftAloneWhenOutputCannotBeOpened) {
    temp_dir work;
    write_file(work / "d/page.html", "x");
    write_file(work / "d.its", "keep me");
    ASSERT_EQ(chmod((work / "d.its").c_str(), 0444), 0);
    process_result result;
    if (geteuid() != 0) {
        result = run_kelto({"d"}, work.path());
    } else {
        // A read-only file still opens for root: run the tool as nobody.
        if (access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "running as root without setpriv";
        ASSERT_EQ(chmod(work.path().c_str(), 0755), 0);
        result = run_process({"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", KELTO_BINARY, "d"},
                             work.path());
    }
    EXPECT_EQ(result.status, 255);
    EXPECT_NE(result.output.find("ERROR: Could not open output file d.its\n"), std::string::npos) << result.output;
    EXPECT_EQ(read_file(work / "d.its"), "keep me");
}

TEST(command_line, ReplacedOutputKeepsItsGroupModeAndAttributes) {
    if (geteuid() != 0 || access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "needs root and setpriv";
    temp_dir work;
    write_file(work / "d/page.html", "x");
    const std::string its = work / "d.its";
    write_file(its, "root's, writable by group 100");
    ASSERT_EQ(chown(its.c_str(), 0, 100) | chmod(its.c_str(), 0664) | chmod(work.path().c_str(), 0777), 0);
    // An ACL that lets group 1234 write too: tag and permissions, then the id.
    const uint32_t acl[] = {2,    1 | 6 << 16,    ~0u, 4 | 6 << 16,    ~0u, 8 | 6 << 16,
                            1234, 0x10 | 6 << 16, ~0u, 0x20 | 4 << 16, ~0u};
    if (setxattr(its.c_str(), "system.posix_acl_access", acl, sizeof acl, 0) != 0) GTEST_SKIP() << "no ACLs here";
    // A member of the group replaces it: only root may give a file away.
    process_result result = run_process(
        {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--groups=100", KELTO_BINARY, "d"}, work.path());
    EXPECT_EQ(result.output.find("WARNING: Could not keep the owner of the replaced file d.its\n"), 0u)
        << result.output;
    struct stat status;
    ASSERT_EQ(stat(its.c_str(), &status), 0);
    EXPECT_EQ((std::vector<unsigned>{status.st_uid, status.st_gid, status.st_mode & 07777}),
              (std::vector<unsigned>{65534, 100, 0664}));
    uint32_t kept[16];
    EXPECT_EQ(getxattr(its.c_str(), "system.posix_acl_access", kept, sizeof kept), ssize_t{sizeof acl});
    EXPECT_EQ(memcmp(kept, acl, sizeof acl), 0);
}

TEST(command_line, StandardOutputSentToTheOutputIsRefused) {
    // The progress lines would land inside the container.
    temp_dir work;
    write_file(work / "d/page.html", "x");
    for (const char *redirect : {"> d.its", ">> d.its", "> link-to-output"}) {
        ASSERT_EQ(symlink("d.its", (work / "link-to-output").c_str()), 0);
        process_result result =
            run_process({"/bin/sh", "-c", std::string("exec \"$0\" d ") + redirect, KELTO_BINARY}, work.path());
        EXPECT_EQ(result.status, 255) << redirect;
        EXPECT_EQ(read_file(work / "d.its"), "ERROR: Standard output is the output file d.its\n") << redirect;
        ASSERT_EQ(unlink((work / "d.its").c_str()), 0);
        ASSERT_EQ(unlink((work / "link-to-output").c_str()), 0);
    }
}

TEST(command_line, InputOf4GiBIsRefusedBeforeAnyOutput) {
    temp_dir work;
    ASSERT_EQ(mkdir((work / "big").c_str(), 0755), 0);
    // Sparse files: two of 2 GiB reach 2^32 bytes exactly.
    for (const char *name : {"big/one", "big/two"}) {
        write_file(work / name, "");
        ASSERT_EQ(truncate((work / name).c_str(), off_t{1} << 31), 0);
    }
    process_result result = run_kelto({"big"}, work.path());
    EXPECT_EQ(result.status, 255);
    EXPECT_NE(result.output.find("ERROR: The input files add up to 4294967296 bytes; an ITS file holds less than "
                                 "4 GiB\n"),
              std::string::npos)
        << result.output;
    EXPECT_FALSE(path_exists(work / "big.its"));

    // One byte less passes the check.
    ASSERT_EQ(truncate((work / "big/two").c_str(), (off_t{1} << 31) - 1), 0);
    ASSERT_EQ(mkdir((work / "big.its").c_str(), 0755), 0);
    process_result smaller = run_kelto({"big"}, work.path());
    EXPECT_EQ(smaller.output.find("add up to"), std::string::npos);
    EXPECT_NE(smaller.output.find("ERROR: Could not open output file big.its\n"), std::string::npos);
}

TEST(command_line, UnreadableInputDirectoryIsTakenAsEmpty) {
    temp_dir work;
    write_file(work / "closed/page.html", "x");
    ASSERT_EQ(chmod((work / "closed").c_str(), 0300), 0);
    process_result result;
    if (geteuid() != 0) {
        result = run_kelto({"closed"}, work.path());
    } else {
        // Permission bits do not stop root: run the tool as nobody.
        if (access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "running as root without setpriv";
        ASSERT_EQ(chmod(work.path().c_str(), 0777), 0);
        result = run_process({"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", KELTO_BINARY,
                              "closed"},
                             work.path());
    }
    // Packed as an empty one, and counted as incomplete.
    EXPECT_EQ(result.status, 1) << result.output;
    EXPECT_EQ(result.output.find("WARNING: The input directory was empty (no files added)\n"), 0u) << result.output;
    EXPECT_NE(result.output.find("\nERROR: Could not read all of the input: 1 entry is missing or incomplete in "
                                 "closed.its\n"),
              std::string::npos);
}

TEST(command_line, SymbolicLinksThatFanOutEndTheRunWithoutOutput) {
    // Two links to the next of 41 levels: 2^40 paths, no loop, short names.
    temp_dir work;
    write_file(work / "t/L40/f", "x");
    for (int i = 0; i < 40; i++) {
        std::string level = work / ("t/L" + std::to_string(i) + "/"), next = "../L" + std::to_string(i + 1);
        ASSERT_EQ(mkdir(level.c_str(), 0755), 0);
        for (const char *link : {"a", "b"}) ASSERT_EQ(symlink(next.c_str(), (level + link).c_str()), 0);
    }
    process_result result = run_process({KELTO_BINARY, "t"}, work.path(), 60);
    EXPECT_EQ(result.status, 255);
    EXPECT_EQ(result.output.find("ERROR: Symbolic links lead into the same directories again and again"), 0u);
    EXPECT_EQ(listing(work.path()), std::vector<std::string>{"t"});
}
