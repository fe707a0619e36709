// Shared set-up for the compression pass tests: a fresh run state, a real
// temporary input tree and a hand-built catalogue.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "catalogue/entry_table.h"
#include "test_support.h"

class compress_test : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Appends a heap entry owned by the table, as the catalogue makes them.
    its_entry *add_file(const std::string &name, const std::string &source_path = "");
    its_entry *add_dir(const std::string &name);
    // The built-in entries, as the run sequence adds them after the walk.
    void add_builtins(void);
    // Writes the file below the tree and catalogues it.
    its_entry *make_file(const std::string &relative, const std::string &bytes);

    // Calls feed_input with these request sizes in turn (the last one
    // repeated) until it returns short; returns every byte placed.
    std::string drain(std::initializer_list<int> sizes);

    temp_dir tree;
};

// A deterministic byte pattern that does not repeat soon.
std::string pattern_bytes(size_t length, uint32_t seed);
