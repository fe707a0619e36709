// The tool under valgrind memcheck: no invalid access, no use of undefined
// values, nothing lost, on the example site and on a generated tree.
#include <unistd.h>

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "hardening_support.h"

namespace {
const char *const valgrind = "/usr/bin/valgrind";

void expect_clean_under_valgrind(const std::string &tree) {
    process_result result =
        run_process({valgrind, "--tool=memcheck", "--error-exitcode=99", "--leak-check=full",
                     "--errors-for-leak-kinds=definite,indirect", "--show-leak-kinds=definite,indirect", "--quiet",
                     KELTO_BINARY, tree},
                    "", 300);
    EXPECT_EQ(result.status, 0) << result.output.substr(0, 6000);
    EXPECT_EQ(result.output.find("=="), std::string::npos) << result.output.substr(0, 6000);
    EXPECT_EQ(judge_outcome(tree, result), "");
}
}  // namespace

TEST(valgrind, ExampleSiteAndAGeneratedTree) {
    if (KELTO_SANITIZED) GTEST_SKIP() << "valgrind does not run sanitized binaries";
    if (access(valgrind, X_OK) != 0) GTEST_SKIP() << "valgrind is not installed";
    temp_dir work;
    std::string site = std::string(KELTO_SOURCE_DIR) + "/examples/site";
    if (std::filesystem::is_directory(site)) {
        std::filesystem::copy(site, work / "site", std::filesystem::copy_options::recursive);
        expect_clean_under_valgrind(work / "site");
    }
    make_sample_tree(work / "tree", 40);
    expect_clean_under_valgrind(work / "tree");
}

TEST(valgrind, FailedRunReleasesEverything) {
    if (KELTO_SANITIZED) GTEST_SKIP() << "valgrind does not run sanitized binaries";
    if (access(valgrind, X_OK) != 0) GTEST_SKIP() << "valgrind is not installed";
    temp_dir work;
    std::string tree = work / "tree";
    make_sample_tree(tree, 40);
    // Fails while the container is written, after everything is allocated.
    process_result result = run_process({"/bin/sh", "-c",
                                         "trap '' XFSZ; ulimit -f 16 || exit 99; exec \"$0\" --tool=memcheck "
                                         "--error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite,indirect "
                                         "--quiet \"$1\" \"$2\"",
                                         valgrind, KELTO_BINARY, tree},
                                        "", 300);
    EXPECT_EQ(result.status, 255) << result.output.substr(0, 6000);
    EXPECT_EQ(result.output.find("=="), std::string::npos) << result.output.substr(0, 6000);
    EXPECT_EQ(judge_outcome(tree, result), "");
}
