#include <gtest/gtest.h>

#include "catalogue/builtin_entries.h"
#include "run/run_state.h"
#include "run/settings.h"
#include "test_support.h"

class SettingsTest : public ::testing::Test {
  protected:
    void SetUp() override { reset_run_for_test(); }
    void TearDown() override { reset_run_for_test(); }
};

TEST_F(SettingsTest, DefaultsDeriveWindowAndSpacing) {
    ASSERT_EQ(derive_settings(), 0);
    EXPECT_EQ(settings.window_bits, 15u);
    EXPECT_EQ(run.quickref_spacing, 5);
    EXPECT_EQ(span_info_entry.offset, 98u);
    EXPECT_EQ(control_data_entry.offset, 106u);
    EXPECT_EQ(reset_table_entry.offset, 134u);
}
