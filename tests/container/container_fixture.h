// A catalogue as the earlier stages leave it, for writing whole containers.
#pragma once
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "catalogue/builtin_entries.h"
#include "container/container_writer.h"
#include "container_test_support.h"
#include "run/settings.h"

class container : public ::testing::Test {
  protected:
    void SetUp() override { reset_run_for_test(); }
    void TearDown() override {
        if (run.output_file) fclose(run.output_file);
        if (run.temp_file) fclose(run.temp_file);
        run.output_file = nullptr;
        run.temp_file = nullptr;
        reset_run_for_test();
    }

    // n files of file_size bytes each, named in table order, then the built-in
    // entries the settings ask for, in their sorted order.
    void catalogue_files(uint32_t n, size_t name_length = 30, uint32_t file_size = 100) {
        ASSERT_EQ(derive_settings(), 0);
        for (uint32_t i = 0; i < n; i++) add_test_entry(numbered_name(i, name_length), 1, i * file_size, file_size);
        uncompressed = static_cast<uint64_t>(n) * file_size;
        add_static_test_entry(&namelist_entry);
        add_static_test_entry(&content_entry);
        add_static_test_entry(&control_data_entry);
        add_static_test_entry(&span_info_entry);
        if (settings.write_transform_list) add_static_test_entry(&transform_list_entry);
        if (settings.add_directories) add_static_test_entry(&instance_data_entry);
        add_static_test_entry(&reset_table_entry);
    }

    // What the compression pass leaves: the compressed bytes in the
    // temporary file, the reset points and the final built-in fields.
    void compressed(const std::string &content, const std::vector<uint64_t> &resets) {
        run.temp_file = tmpfile();
        ASSERT_NE(run.temp_file, nullptr);
        fwrite(content.data(), 1, content.size(), run.temp_file);
        run.reset_table.count = resets.size();
        run.reset_table.capacity = resets.size() + 10;
        run.reset_table.values = static_cast<uint64_t *>(calloc(run.reset_table.capacity, sizeof(uint64_t)));
        for (size_t i = 0; i < resets.size(); i++) run.reset_table.values[i] = resets[i];
        run.compress_results.compressed_length = content.size();
        run.compress_results.uncompressed_length = uncompressed;
        reset_table_entry.length = static_cast<uint32_t>(48 + 8 * resets.size());
        content_entry.offset = reset_table_entry.offset + reset_table_entry.length;
        content_entry.length = static_cast<uint32_t>(content.size());
    }

    void open_output(const char *mode = "wb") {
        run.output_file = fopen(output_path().c_str(), mode);
        ASSERT_NE(run.output_file, nullptr);
    }

    // Writes the container and returns the finished file's bytes.
    std::string write(void) {
        open_output();
        write_container();
        fclose(run.output_file);
        run.output_file = nullptr;
        return read_file(output_path());
    }

    std::string output_path(void) const { return dir / "out.its"; }

    temp_dir dir;
    uint64_t uncompressed = 0;
};

inline std::string pattern_bytes(size_t n) {
    std::string bytes(n, '\0');
    for (size_t i = 0; i < n; i++) bytes[i] = static_cast<char>((i * 131 + 7) & 0xFF);
    return bytes;
}
