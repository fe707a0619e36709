// For directories of one or two levels the chunks must be byte for byte
// those of the single-index algorithm: a leaf is written as it fills, the
// index entry for the next leaf is made before that leaf is written, and the
// index chunk follows the last leaf. This model writes them that way, apart
// from the code under test, and the two outputs are compared.
#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <vector>

#include "container/directory.h"
#include "container/encodings.h"
#include "container_test_support.h"
#include "run/settings.h"

namespace {
struct model_level {
    std::vector<uint8_t> data;
    uint32_t free = 0, write = 0, quick = 0, added = 0, first = 0;
};

void put32(std::string &out, uint32_t v) {
    for (int i = 0; i < 4; i++) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

class model_directory {
  public:
    model_directory(uint32_t chunk_size, uint32_t spacing, bool clear)
        : chunk_size_(chunk_size), spacing_(spacing), clear_(clear) {}

    // The directory bytes, or nothing when one index chunk does not suffice.
    std::optional<std::string> build(void) {
        levels_.assign(1, model_level{});
        create(0);
        const entry_table &table = run.entry_table;
        for (uint32_t i = 0; i < table.count;) {
            if (levels_[0].added == 0) levels_[0].first = i;
            if (add(0, table.entries[i], 0)) {
                i++;
                continue;
            }
            write(0);
            last_leaf_ = last_chunk_ += 1;
            begin(0);
            if (levels_.size() == 1) {
                levels_.push_back(model_level{});
                create(1);
            }
            if (levels_[1].added == 0) add(1, table.entries[levels_[0].first], 0);
            if (!add(1, table.entries[i], last_chunk_ + 1)) return std::nullopt;
            size_t next_field = out_.size() - chunk_size_ + 16;
            std::string number;
            put32(number, last_chunk_ + 1);
            out_.replace(next_field, 4, number);
        }
        for (uint32_t level = 0; level < levels_.size(); level++) {
            write(level);
            last_chunk_ += 1;
            if (level == 0) last_leaf_ = last_chunk_;
        }
        return out_;
    }

  private:
    uint32_t area(uint32_t level) const { return chunk_size_ - (level == 0 ? 22 : 10); }
    void create(uint32_t level) {
        levels_[level].data.assign(area(level), 0);
        begin(level);
    }
    void begin(uint32_t level) {
        model_level &l = levels_[level];
        l.free = area(level);
        l.write = 0;
        l.quick = area(level) - 1;
        l.added = 0;
    }
    // True when added.
    bool add(uint32_t level, const its_entry *e, uint32_t number) {
        model_level &l = levels_[level];
        uint8_t bytes[300];
        uint32_t n = encint_put(bytes, e->name_len);
        memcpy(bytes + n, e->name, e->name_len);
        n += e->name_len;
        if (level == 0) {
            for (uint32_t v : {e->section, e->offset, e->length}) n += encint_put(bytes + n, v);
        } else {
            n += encint_put(bytes + n, number);
        }
        bool slot = l.added > 0 && l.added % spacing_ == 0;
        if (n + (slot ? 2 : 0) > l.free) return false;
        if (slot) {
            l.data[l.quick] = static_cast<uint8_t>(l.write >> 8);
            l.data[l.quick - 1] = static_cast<uint8_t>(l.write & 0xFF);
            l.quick -= 2;
        }
        memcpy(l.data.data() + l.write, bytes, n);
        l.write += n;
        l.free -= n + (slot ? 2 : 0);
        l.added++;
        return true;
    }
    void write(uint32_t level) {
        model_level &l = levels_[level];
        if (clear_) std::fill(l.data.begin() + l.write, l.data.begin() + l.write + l.free, 0);
        out_ += level == 0 ? "PMGL" : "PMGI";
        put32(out_, chunk_size_ - (level == 0 ? 20 : 8) - l.write);
        if (level == 0) {
            put32(out_, 0);
            put32(out_, static_cast<uint32_t>(last_chunk_));
            put32(out_, 0xFFFFFFFF);
        }
        out_.append(l.data.begin(), l.data.end());
        out_ += static_cast<char>(l.added & 0xFF);
        out_ += static_cast<char>(l.added >> 8);
    }

    uint32_t chunk_size_, spacing_;
    bool clear_;
    std::vector<model_level> levels_;
    std::string out_;
    int32_t last_chunk_ = -1, last_leaf_ = -1;
};

class directory_reference : public ::testing::Test {
  protected:
    void SetUp() override {
        reset_run_for_test();
        ASSERT_EQ(derive_settings(), 0);
    }
    void TearDown() override {
        if (run.output_file) fclose(run.output_file);
        run.output_file = nullptr;
        reset_run_for_test();
    }
};
}  // namespace

TEST_F(directory_reference, OneAndTwoLevelsMatchTheSingleIndexAlgorithm) {
    std::mt19937 random(777);
    int compared = 0;
    for (uint32_t chunk_size : {1024u, 4096u}) {
        for (uint32_t count : {1u, 30u, 118u, 119u, 500u, 2000u, 9000u}) {
            for (bool clear : {false, true}) {
                SCOPED_TRACE(::testing::Message() << chunk_size << " " << count << " " << clear);
                TearDown();
                SetUp();
                settings.chunk_size = chunk_size;
                settings.clear_free_space = clear;
                for (uint32_t i = 0; i < count; i++) {
                    size_t length = 10 + random() % 140;
                    uint32_t value = random() >> (random() % 32);
                    add_test_entry(numbered_name(i, length), value & 1, value, value / 3);
                }
                std::optional<std::string> expected = model_directory(chunk_size, 5, clear).build();
                if (!expected) continue;  // deeper than two levels
                run.output_file = tmpfile();
                build_directory();
                ASSERT_EQ(stream_bytes(run.output_file), *expected);
                compared++;
            }
        }
    }
    EXPECT_GE(compared, 12);
}

TEST_F(directory_reference, LargestTwoLevelTreeMatches) {
    add_numbered_entries(14868, 30);
    std::optional<std::string> expected = model_directory(4096, 5, false).build();
    ASSERT_TRUE(expected);
    run.output_file = tmpfile();
    build_directory();
    EXPECT_EQ(stream_bytes(run.output_file), *expected);
}
