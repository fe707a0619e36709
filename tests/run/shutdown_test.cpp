#include <cstdlib>
#include <cstring>

#include <gtest/gtest.h>

#include "catalogue/builtin_entries.h"
#include "catalogue/entry_table.h"
#include "run/run_state.h"
#include "run/settings.h"
#include "run/shutdown.h"
#include "test_support.h"

class exit_cleanup : public ::testing::Test {
  protected:
    void SetUp() override { reset_run_for_test(); }
    void TearDown() override { reset_run_for_test(); }

    // Gives the run an unfinished output file named path.
    void open_output(const std::string &path) {
        run.unfinished_path = strdup(path.c_str());
        run.output_file = fopen(path.c_str(), "wb");
        ASSERT_NE(run.output_file, nullptr);
        fputs("partial", run.output_file);
    }

    // Fills every structure that release_all frees.
    void fill_run_state(void) {
        run.name_prefix.buffer = strdup("/sub/");
        run.name_prefix.length = 5;
        ASSERT_EQ(add_dir_entry(), 0);
        ASSERT_EQ(add_file_entry_from("f", "deep/f"), 0);
        add_builtin_entries();
        run.reset_table.values = static_cast<uint64_t *>(calloc(10, sizeof(uint64_t)));
        run.reset_table.capacity = 10;
        run.chunk_levels = static_cast<chunk_level *>(calloc(4, sizeof(chunk_level)));
        run.level_capacity = 4;
        run.levels_in_use = 2;
        run.chunk_levels[0].data_area = static_cast<uint8_t *>(malloc(64));
        run.chunk_levels[1].data_area = static_cast<uint8_t *>(malloc(64));
    }
};

TEST_F(exit_cleanup, UnfinishedOutputIsRemovedAndEverythingReleased) {
    temp_dir work;
    fill_run_state();
    open_output(work / "d.its");
    on_exit_cleanup();
    EXPECT_FALSE(path_exists(work / "d.its"));
    EXPECT_EQ(run.output_file, nullptr);
    EXPECT_EQ(run.unfinished_path, nullptr);
    EXPECT_EQ(run.name_prefix.buffer, nullptr);
    EXPECT_EQ(run.entry_table.entries, nullptr);
    EXPECT_EQ(run.reset_table.values, nullptr);
    EXPECT_EQ(run.chunk_levels, nullptr);
    // Built-in records live on untouched.
    EXPECT_STREQ(reset_table_entry.name,
                 "::DataSpace/Storage/MSCompressed/Transform/{7FC28940-9D31-11D0-9B27-00A0C91E9C7C}/InstanceData/"
                 "ResetTable");
}

TEST_F(exit_cleanup, CompleteOutputIsKept) {
    temp_dir work;
    fill_run_state();
    open_output(work / "d.its");
    settings.remove_output_on_exit = 0;
    fclose(run.output_file);
    run.output_file = nullptr;
    on_exit_cleanup();
    EXPECT_EQ(read_file(work / "d.its"), "partial");
}

TEST_F(exit_cleanup, AFileTheRunNeverOpenedIsLeftAlone) {
    temp_dir work;
    write_file(work / "d.its", "someone else's");
    run.output_path = strdup((work / "d.its").c_str());
    on_exit_cleanup();
    EXPECT_EQ(read_file(work / "d.its"), "someone else's");
    EXPECT_EQ(run.output_path, nullptr);
}
