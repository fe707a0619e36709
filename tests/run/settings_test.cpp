#include <gtest/gtest.h>

#include "catalogue/builtin_entries.h"
#include "run/run_state.h"
#include "run/settings.h"
#include "test_support.h"

namespace {
std::string derive_captured(int *result) {
    stdout_capture capture;
    *result = derive_settings();
    return capture.finish();
}
}  // namespace

class derived_settings : public ::testing::Test {
  protected:
    void SetUp() override { reset_run_for_test(); }
    void TearDown() override { reset_run_for_test(); }
};

TEST_F(derived_settings, DefaultsDeriveWindowAndSpacing) {
    ASSERT_EQ(derive_settings(), 0);
    EXPECT_EQ(settings.window_bits, 16u);
    EXPECT_EQ(settings.reset_interval, 2u);
    EXPECT_EQ(run.quickref_spacing, 5);
    EXPECT_EQ(span_info_entry.offset, 98u);
    EXPECT_EQ(control_data_entry.offset, 106u);
    EXPECT_EQ(reset_table_entry.offset, 134u);
    EXPECT_EQ(transform_list_entry.offset, 60u);
}

TEST_F(derived_settings, EveryValidWindowCodeGivesItsBits) {
    const uint32_t codes[] = {0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40};
    for (uint32_t i = 0; i < 7; i++) {
        reset_run_for_test();
        settings.window_size_code = codes[i];
        settings.reset_interval = codes[i];
        settings.window_bits = 0;
        int result;
        EXPECT_EQ(derive_captured(&result), "");
        EXPECT_EQ(result, 0);
        EXPECT_EQ(settings.window_bits, 15 + i) << "code " << codes[i];
    }
}

TEST_F(derived_settings, InvalidWindowSettingsAreRefusedWithTheValuesInHex) {
    const std::string codes = " (must be one of 1, 2, 4, 8, 0x10, 0x20 or 0x40)\n";
    struct {
        uint32_t code, interval;
        std::string output;
    } cases[] = {{0x0, 2, "ERROR: Invalid window size code: 0x0" + codes},
                 {0x3, 2, "ERROR: Invalid window size code: 0x3" + codes},
                 {0x80, 0x80, "ERROR: Invalid window size code: 0x80" + codes},
                 {0xffffffff, 2, "ERROR: Invalid window size code: 0xffffffff" + codes},
                 {0x41, 2, "ERROR: Invalid window size code: 0x41" + codes},
                 // The stream resets every window_size_code frames, whatever ControlData says.
                 {0x2, 0x1, "ERROR: Invalid reset interval: 0x1 (must equal the window size code, 0x2)\n"}};
    for (const auto &c : cases) {
        reset_run_for_test();
        settings.window_size_code = c.code;
        settings.reset_interval = c.interval;
        int result;
        EXPECT_EQ(derive_captured(&result), c.output);
        EXPECT_EQ(result, -1);
        EXPECT_EQ(settings.window_bits, 16u);
    }
}

TEST_F(derived_settings, QuickrefSpacingKeepsItsLow16Bits) {
    struct {
        uint32_t density;
        uint16_t spacing;
    } cases[] = {{0, 2}, {1, 3}, {15, 32769}, {16, 1}, {31, 1}};
    for (const auto &c : cases) {
        reset_run_for_test();
        settings.quickref_density = c.density;
        ASSERT_EQ(derive_settings(), 0);
        EXPECT_EQ(run.quickref_spacing, c.spacing) << "density " << c.density;
    }
}

TEST_F(derived_settings, NoTransformListLowersThreeOffsets) {
    settings.write_transform_list = 0;
    ASSERT_EQ(derive_settings(), 0);
    EXPECT_EQ(span_info_entry.offset, 60u);
    EXPECT_EQ(control_data_entry.offset, 68u);
    EXPECT_EQ(reset_table_entry.offset, 96u);
    EXPECT_EQ(namelist_entry.offset, 0u);
    EXPECT_EQ(instance_data_entry.offset, 0u);
    EXPECT_EQ(content_entry.offset, 0u);
}
