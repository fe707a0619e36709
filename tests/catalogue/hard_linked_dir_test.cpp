#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "test_support.h"

// A directory reached by two paths without symbolic links: Linux forbids
// hard links to directories, so a bind mount in a private mount namespace
// stands in for one. Needs root and unshare; skipped elsewhere.
TEST(hard_linked_directory, SecondPathIsWarnedAndWalkedAsUsual) {
    if (geteuid() != 0 || access("/usr/bin/unshare", X_OK) != 0) GTEST_SKIP() << "needs root and unshare";
    temp_dir work;
    write_file(work / "d/real/page.html", "x");
    ASSERT_EQ(mkfifo((work / "d/real/fifo").c_str(), 0644), 0);
    ASSERT_EQ(mkdir((work / "d/bound").c_str(), 0755), 0);
    std::string script = "mount --bind d/real d/bound || exit 99; exec " + std::string(KELTO_BINARY) + " d";
    process_result result = run_process({"/usr/bin/unshare", "-m", "/bin/sh", "-c", script}, work.path(), 30);
    if (result.status == 99 || result.output.find("unshare:") != std::string::npos)
        GTEST_SKIP() << "cannot bind-mount here: " << result.output;

    const std::string warning = "WARNING: Hard linked directories in the ITSF format? Nah thats pushing it. Maybe in "
                                "a future version. Dirs hard linked to ";
    size_t first = result.output.find(warning);
    ASSERT_NE(first, std::string::npos) << result.output;
    EXPECT_EQ(result.output.find(warning, first + 1), std::string::npos) << "warned twice";
    std::string named = result.output.substr(first + warning.size());
    EXPECT_TRUE(named.rfind("real will be duplicated instead.\n", 0) == 0 ||
                named.rfind("bound will be duplicated instead.\n", 0) == 0)
        << named;
    // Both paths are walked: the pipe inside is met twice.
    EXPECT_NE(result.output.find("Not a regular file or directory: real/fifo"), std::string::npos);
    EXPECT_NE(result.output.find("Not a regular file or directory: bound/fifo"), std::string::npos);
    // The mount lived only in the child's namespace.
    EXPECT_FALSE(path_exists(work / "d/bound/page.html"));
}
