#include <cstring>

#include <gtest/gtest.h>

#include "run/run_state.h"
#include "run/run_steps.h"
#include "run/settings.h"
#include "test_support.h"

class run_steps : public ::testing::Test {
  protected:
    void SetUp() override { reset_run_for_test(); }
    void TearDown() override { reset_run_for_test(); }

    std::string catalogue(const std::string &path) {
        input = path;
        run.input_path = input.data();
        stdout_capture capture;
        EXPECT_EQ(catalogue_input(), 0);
        return capture.finish();
    }

    std::vector<std::string> names(void) {
        std::vector<std::string> result;
        for (uint64_t i = 0; i < run.entry_table.count; i++) result.push_back(run.entry_table.entries[i]->name);
        return result;
    }

    std::string input;
};

TEST_F(run_steps, CatalogueHasRootThenInputThenBuiltins) {
    temp_dir root;
    write_file(root / "b.html", "b");
    write_file(root / "A/x.css", "x");
    ASSERT_EQ(derive_settings(), 0);
    EXPECT_EQ(catalogue(root.path()), "");
    std::vector<std::string> got = names();
    ASSERT_EQ(got.size(), 4u + 7u);
    EXPECT_EQ(std::vector<std::string>(got.begin(), got.begin() + 4),
              (std::vector<std::string>{"/", "/A/", "/A/x.css", "/b.html"}));
    EXPECT_EQ(got[4], "::DataSpace/NameList");
    EXPECT_EQ(run.input_size, 2u);
    EXPECT_STREQ(run.name_prefix.buffer, "/");
}

TEST_F(run_steps, NamesThatDifferOnlyInCaseAreKeptWithAWarning) {
    temp_dir root;
    for (const char *name : {"ipt_TTL.h", "ipt_ttl.h", "Sub/x", "sub/x", "other"}) write_file(root / name, name);
    ASSERT_EQ(derive_settings(), 0);
    const std::string warning = " differ only in case: a lookup by name finds only one of them (both kept)\n";
    EXPECT_EQ(catalogue(root.path()), "WARNING: The names ipt_TTL.h and ipt_ttl.h" + warning +
                                          "WARNING: The names Sub/ and sub/" + warning +
                                          "WARNING: The names Sub/x and sub/x" + warning);
    EXPECT_EQ(names().size(), 8u + 7u);
}

TEST_F(run_steps, EmptyOrMissingInputIsWarnedAndTheRootDoesNotCount) {
    temp_dir root;
    ASSERT_EQ(derive_settings(), 0);
    EXPECT_EQ(catalogue(root.path()), "WARNING: The input directory was empty (no files added)\n");
    EXPECT_EQ(names()[0], "/");
    EXPECT_EQ(names().size(), 8u);

    reset_run_for_test();
    settings.add_directories = 0;
    ASSERT_EQ(derive_settings(), 0);
    EXPECT_EQ(catalogue(root / "missing"), "WARNING: The input directory was empty (no files added)\n");
    EXPECT_EQ(names().size(), 6u);
    EXPECT_EQ(names()[0], "::DataSpace/NameList");
}

TEST_F(run_steps, OutputNameDropsOneTrailingSlash) {
    struct {
        const char *input, *kept, *output;
    } cases[] = {
        {"d", "d", "d.its"},          {"d/", "d", "d.its"},       {"d//", "d/", "d/.its"},
        {"/a/b/", "/a/b", "/a/b.its"}, {".", ".", "..its"},        {"/", "/", "/.its"},
    };
    for (const auto &c : cases) {
        reset_run_for_test();
        input = c.input;
        run.input_path = input.data();
        ASSERT_EQ(name_output(), 0);
        EXPECT_STREQ(run.input_path, c.kept) << c.input;
        EXPECT_STREQ(run.output_path, c.output) << c.input;
    }
}

TEST_F(run_steps, InputSizeLimitIs4GiB) {
    run.input_size = (uint64_t{1} << 32) - 1;
    EXPECT_EQ(check_input_size(), 0);
    run.input_size = uint64_t{1} << 32;
    stdout_capture capture;
    EXPECT_EQ(check_input_size(), -1);
    EXPECT_EQ(capture.finish(),
              "ERROR: The input files add up to 4294967296 bytes; an ITS file holds less than 4 GiB\n");
}
