#include "compress_fixture.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include "catalogue/builtin_entries.h"
#include "compress/compress_callbacks.h"
#include "run/run_state.h"
#include "run/settings.h"

namespace {
void append(its_entry *entry) {
    entry_table &table = run.entry_table;
    if (table.count == table.capacity) {
        table.capacity += 10;
        table.entries = static_cast<its_entry **>(realloc(table.entries, table.capacity * sizeof(its_entry *)));
    }
    table.entries[table.count++] = entry;
}

its_entry *heap_entry(const std::string &name, uint32_t section) {
    auto *entry = static_cast<its_entry *>(calloc(1, sizeof(its_entry)));
    entry->name = strdup(name.c_str());
    entry->name_len = static_cast<uint8_t>(name.size());
    entry->section = section;
    append(entry);
    return entry;
}
}  // namespace

void compress_test::SetUp() { reset_run_for_test(); }

void compress_test::TearDown() {
    if (run.input_file) fclose(run.input_file);
    if (run.temp_file) fclose(run.temp_file);
    run.input_file = nullptr;
    run.temp_file = nullptr;
    close_input_dir();
    reset_run_for_test();
}

its_entry *compress_test::add_file(const std::string &name, const std::string &source_path) {
    its_entry *entry = heap_entry(name, static_cast<uint32_t>(static_cast<int32_t>(settings.file_section)));
    if (!source_path.empty()) entry->source_path = strdup(source_path.c_str());
    return entry;
}

its_entry *compress_test::add_dir(const std::string &name) { return heap_entry(name, 0); }

void compress_test::add_builtins(void) {
    append(&namelist_entry);
    append(&content_entry);
    append(&control_data_entry);
    append(&span_info_entry);
    if (settings.write_transform_list) append(&transform_list_entry);
    if (settings.add_directories) append(&instance_data_entry);
    append(&reset_table_entry);
}

its_entry *compress_test::make_file(const std::string &relative, const std::string &bytes) {
    write_file(tree / relative, bytes);
    return add_file("/" + relative);
}

std::string compress_test::drain(std::initializer_list<int> sizes) {
    std::string stream;
    std::vector<int> order(sizes);
    for (size_t call = 0;; call++) {
        int wanted = order[call < order.size() ? call : order.size() - 1];
        std::vector<char> buffer(static_cast<size_t>(wanted) + 1, '\xAA');
        int got = feed_input(nullptr, wanted, buffer.data());
        EXPECT_GE(got, 0);
        EXPECT_LE(got, wanted);
        EXPECT_EQ(buffer[static_cast<size_t>(wanted)], '\xAA') << "wrote past the request";
        stream.append(buffer.data(), static_cast<size_t>(got));
        if (got < wanted) return stream;
    }
}

std::string pattern_bytes(size_t length, uint32_t seed) {
    std::string bytes(length, '\0');
    uint32_t state = seed * 2654435761u + 1;
    for (char &byte : bytes) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<char>(state >> 24);
    }
    return bytes;
}
