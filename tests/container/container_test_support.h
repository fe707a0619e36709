// Helpers of the container tests: synthetic catalogues, the output as bytes,
// and a reader that checks a whole directory tree.
#pragma once
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "catalogue/entry_table.h"
#include "container/chunk_level.h"
#include "run/run_state.h"
#include "run/settings.h"
#include "test_support.h"

// Appends an entry owned by the table (released by release_all).
inline void add_test_entry(const std::string &name, uint32_t section, uint32_t offset, uint32_t length) {
    entry_table &table = run.entry_table;
    if (table.count == table.capacity) {
        table.capacity = table.capacity * 2 + 16;
        table.entries = static_cast<its_entry **>(realloc(table.entries, table.capacity * sizeof(its_entry *)));
    }
    its_entry *entry = static_cast<its_entry *>(calloc(1, sizeof(its_entry)));
    entry->name_len = static_cast<uint8_t>(name.size());
    entry->name = strdup(name.c_str());
    entry->section = section;
    entry->offset = offset;
    entry->length = length;
    table.entries[table.count++] = entry;
}

inline void add_static_test_entry(its_entry *entry) {
    entry_table &table = run.entry_table;
    if (table.count == table.capacity) {
        table.capacity = table.capacity * 2 + 16;
        table.entries = static_cast<its_entry **>(realloc(table.entries, table.capacity * sizeof(its_entry *)));
    }
    table.entries[table.count++] = entry;
}

// A name of exactly `length` bytes, "/" then the number padded with zeros, so
// that names of one length sort in the order of their numbers.
inline std::string numbered_name(uint32_t number, size_t length) {
    std::string digits = std::to_string(number);
    return "/" + std::string(length - 1 - digits.size(), '0') + digits;
}

// n entries of `length`-byte names whose section, offset and length are each
// below 128, so that each leaf entry takes length + 4 bytes.
inline void add_numbered_entries(uint32_t n, size_t length) {
    for (uint32_t i = 0; i < n; i++) add_test_entry(numbered_name(i, length), i % 2, i % 128, (i * 7) % 128);
}

// Everything written to the stream so far.
inline std::string stream_bytes(FILE *stream) {
    fflush(stream);
    long end = ftell(stream);
    std::string bytes(static_cast<size_t>(end), '\0');
    rewind(stream);
    size_t got = fread(bytes.data(), 1, bytes.size(), stream);
    bytes.resize(got);
    fseek(stream, 0, SEEK_END);
    return bytes;
}

inline uint32_t le32(const std::string &bytes, size_t at) {
    uint32_t value = 0;
    for (int i = 3; i >= 0; i--) value = (value << 8) | static_cast<uint8_t>(bytes.at(at + i));
    return value;
}
inline uint64_t le64(const std::string &bytes, size_t at) {
    return le32(bytes, at) | static_cast<uint64_t>(le32(bytes, at + 4)) << 32;
}
inline uint16_t le16(const std::string &bytes, size_t at) {
    return static_cast<uint16_t>(static_cast<uint8_t>(bytes.at(at)) | static_cast<uint8_t>(bytes.at(at + 1)) << 8);
}

inline uint32_t decode_encint(const std::string &bytes, size_t &at) {
    uint32_t value = 0;
    for (;;) {
        uint8_t byte = static_cast<uint8_t>(bytes.at(at++));
        value = (value << 7) | (byte & 0x7F);
        if (!(byte & 0x80)) return value;
    }
}

struct parsed_chunk {
    bool leaf = false;
    uint32_t free_space = 0;
    uint32_t previous = 0, next = 0;
    uint16_t count = 0;
    std::vector<std::string> names;
    std::vector<uint32_t> offsets;  // of each entry in the data area
    std::vector<uint32_t> numbers;  // index chunks: the chunk each entry names
    std::vector<uint32_t> section, offset, length;  // leaves
    uint32_t used = 0;              // bytes taken by entries
};

inline parsed_chunk parse_chunk(const std::string &bytes, size_t at, uint32_t chunk_size) {
    parsed_chunk chunk;
    std::string magic = bytes.substr(at, 4);
    EXPECT_TRUE(magic == "PMGL" || magic == "PMGI") << "chunk at " << at;
    chunk.leaf = magic == "PMGL";
    chunk.free_space = le32(bytes, at + 4);
    size_t header = chunk.leaf ? 20 : 8;
    if (chunk.leaf) {
        EXPECT_EQ(le32(bytes, at + 8), 0u);
        chunk.previous = le32(bytes, at + 12);
        chunk.next = le32(bytes, at + 16);
    }
    chunk.count = le16(bytes, at + chunk_size - 2);
    size_t pos = at + header;
    for (uint32_t i = 0; i < chunk.count; i++) {
        chunk.offsets.push_back(static_cast<uint32_t>(pos - at - header));
        uint32_t len = decode_encint(bytes, pos);
        chunk.names.push_back(bytes.substr(pos, len));
        pos += len;
        if (chunk.leaf) {
            chunk.section.push_back(decode_encint(bytes, pos));
            chunk.offset.push_back(decode_encint(bytes, pos));
            chunk.length.push_back(decode_encint(bytes, pos));
        } else {
            chunk.numbers.push_back(decode_encint(bytes, pos));
        }
    }
    chunk.used = static_cast<uint32_t>(pos - at - header);
    return chunk;
}

// Checks the directory written at `base` of `bytes` against run.entry_table
// and the summary: every chunk's own layout, the leaves in table order with
// their links, every index level naming the level below in order, the root
// written last.
inline void check_directory(const std::string &bytes, size_t base, const dir_summary &summary, uint32_t chunk_size,
                            uint32_t spacing) {
    ASSERT_GE(bytes.size(), base + static_cast<size_t>(summary.chunk_count) * chunk_size);
    std::vector<parsed_chunk> chunks;
    for (uint32_t n = 0; n < summary.chunk_count; n++) {
        chunks.push_back(parse_chunk(bytes, base + static_cast<size_t>(n) * chunk_size, chunk_size));
        const parsed_chunk &chunk = chunks.back();
        uint32_t header = chunk.leaf ? 20 : 8;
        ASSERT_EQ(chunk.free_space, chunk_size - header - chunk.used) << "chunk " << n;
        size_t slots = chunk.count == 0 ? 0 : (chunk.count - 1u) / spacing;
        ASSERT_LE(header + chunk.used + 2 * slots + 2, chunk_size) << "chunk " << n;
        for (size_t j = 1; j <= slots; j++) {
            ASSERT_EQ(le16(bytes, base + static_cast<size_t>(n) * chunk_size + chunk_size - 2 - 2 * j),
                      chunk.offsets[j * spacing])
                << "chunk " << n << " slot " << j;
        }
    }

    // The level of each chunk: leaves 0, an index chunk one above what it names.
    std::vector<uint32_t> level(chunks.size(), 0);
    std::vector<std::vector<uint32_t>> by_level(1);
    for (uint32_t n = 0; n < chunks.size(); n++) {
        const parsed_chunk &chunk = chunks[n];
        if (!chunk.leaf) {
            ASSERT_GT(chunk.count, 0) << "empty index chunk " << n;
            uint32_t below = level.at(chunk.numbers[0]);
            for (size_t i = 0; i < chunk.count; i++) {
                uint32_t named = chunk.numbers[i];
                ASSERT_LT(named, n) << "index chunk " << n << " names a later chunk";
                ASSERT_EQ(level[named], below) << "index chunk " << n << " mixes levels";
                ASSERT_GT(chunks[named].count, 0);
                ASSERT_EQ(chunk.names[i], chunks[named].names[0]) << "index chunk " << n << " entry " << i;
            }
            level[n] = below + 1;
        }
        if (by_level.size() <= level[n]) by_level.resize(level[n] + 1);
        by_level[level[n]].push_back(n);
    }

    // Leaves: every entry once, in table order, linked in both directions.
    const std::vector<uint32_t> &leaves = by_level[0];
    ASSERT_FALSE(leaves.empty());
    ASSERT_EQ(leaves[0], 0u);
    uint64_t index = 0;
    for (size_t i = 0; i < leaves.size(); i++) {
        const parsed_chunk &leaf = chunks[leaves[i]];
        ASSERT_EQ(leaf.previous, i == 0 ? 0xFFFFFFFFu : leaves[i - 1]) << "leaf " << leaves[i];
        ASSERT_EQ(leaf.next, i + 1 == leaves.size() ? 0xFFFFFFFFu : leaves[i + 1]) << "leaf " << leaves[i];
        for (size_t k = 0; k < leaf.count; k++, index++) {
            ASSERT_LT(index, run.entry_table.count);
            const its_entry *entry = run.entry_table.entries[index];
            ASSERT_EQ(leaf.names[k], std::string(entry->name, entry->name_len)) << "entry " << index;
            ASSERT_EQ(leaf.section[k], entry->section);
            ASSERT_EQ(leaf.offset[k], entry->offset);
            ASSERT_EQ(leaf.length[k], entry->length);
        }
    }
    ASSERT_EQ(index, run.entry_table.count);

    // Each index level names every chunk of the level below once, in order.
    for (size_t l = 1; l < by_level.size(); l++) {
        std::vector<uint32_t> named;
        for (uint32_t n : by_level[l]) named.insert(named.end(), chunks[n].numbers.begin(), chunks[n].numbers.end());
        ASSERT_EQ(named, by_level[l - 1]) << "level " << l;
    }
    ASSERT_EQ(by_level.back().size(), 1u) << "more than one chunk at the top";

    uint32_t last = summary.chunk_count - 1;
    EXPECT_EQ(summary.depth, by_level.size());
    EXPECT_EQ(summary.last_leaf, leaves.back());
    EXPECT_EQ(summary.root_chunk, by_level.size() == 1 ? 0xFFFFFFFFu : last);
    EXPECT_EQ(by_level.back()[0], last);
}

// Expects the statement to end the process with status -1 after printing the
// message; the message goes to standard output, so it is sent where the
// death test looks.
#define EXPECT_ENDS_RUN(statement, message)                                                          \
    EXPECT_EXIT(                                                                                     \
        {                                                                                            \
            fflush(stdout);                                                                          \
            dup2(2, 1);                                                                              \
            statement;                                                                               \
            exit(0);                                                                                 \
        },                                                                                           \
        ::testing::ExitedWithCode(255), ::testing::HasSubstr(message))

// Settings derived, an empty temporary stream as the output; everything put
// back afterwards.
class directory_output_test : public ::testing::Test {
  protected:
    void SetUp() override {
        reset_run_for_test();
        ASSERT_EQ(derive_settings(), 0);
        run.output_file = tmpfile();
        ASSERT_NE(run.output_file, nullptr);
    }
    void TearDown() override {
        if (run.output_file) fclose(run.output_file);
        run.output_file = nullptr;
        reset_run_for_test();
    }
};
