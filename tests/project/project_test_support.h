// Helpers shared by the project reader's tests.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "project/read_project.h"
#include "test_support.h"

// Checks that every expected piece of text appears in the output, and that
// the output has as many warnings and notes as pieces (so that nothing else
// was printed).
inline void expect_messages(const std::string &output, const std::vector<std::string> &expected) {
    size_t lines = 0;
    for (size_t at = output.find('\n'); at != std::string::npos; at = output.find('\n', at + 1)) lines++;
    EXPECT_EQ(lines, expected.size()) << output;
    for (const std::string &text : expected)
        EXPECT_NE(output.find(text), std::string::npos) << text << "\nin:\n" << output;
}

// Writes the files (name, then bytes) below the directory.
inline void write_files(const temp_dir &root, const std::vector<std::pair<std::string, std::string>> &files) {
    for (const auto &[name, bytes] : files) write_file(root / name, bytes);
}
