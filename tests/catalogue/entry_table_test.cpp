#include <algorithm>
#include <cstring>
#include <random>

#include "catalogue/builtin_entries.h"
#include "catalogue/entry_table.h"
#include "catalogue_test_support.h"
#include "run/settings.h"
#include "run/shutdown.h"
#include "test_support.h"

namespace {
// Sets the prefix to text (which must begin and end with "/").
void set_prefix(const char *text) {
    size_t length = strlen(text);
    run.name_prefix.buffer = static_cast<char *>(realloc(run.name_prefix.buffer, length + 1));
    memcpy(run.name_prefix.buffer, text, length + 1);
    run.name_prefix.length = static_cast<uint32_t>(length);
}

void add_files(const std::vector<std::string> &names) {
    for (const std::string &name : names) ASSERT_EQ(add_file_entry(name.c_str()), 0);
}

const std::vector<std::string> builtin_names = {
    "::DataSpace/NameList",
    "::DataSpace/Storage/MSCompressed/Content",
    "::DataSpace/Storage/MSCompressed/ControlData",
    "::DataSpace/Storage/MSCompressed/SpanInfo",
    "::DataSpace/Storage/MSCompressed/Transform/List",
    "::DataSpace/Storage/MSCompressed/Transform/{7FC28940-9D31-11D0-9B27-00A0C91E9C7C}/InstanceData/",
    "::DataSpace/Storage/MSCompressed/Transform/{7FC28940-9D31-11D0-9B27-00A0C91E9C7C}/InstanceData/ResetTable",
};
}  // namespace

TEST_F(catalogue, SlotArrayGrowsAtTheTenthAndTwentiethAdd) {
    start_prefix();
    std::vector<uint64_t> capacity_after;
    for (int i = 0; i < 21; i++) {
        ASSERT_EQ(add_file_entry(("f" + std::to_string(i)).c_str()), 0);
        capacity_after.push_back(run.entry_table.capacity);
    }
    EXPECT_EQ(capacity_after[0], 10u);
    EXPECT_EQ(capacity_after[8], 10u);
    EXPECT_EQ(capacity_after[9], 20u);
    EXPECT_EQ(capacity_after[18], 20u);
    EXPECT_EQ(capacity_after[19], 30u);
    EXPECT_EQ(capacity_after[20], 30u);
    EXPECT_EQ(run.entry_table.count, 21u);
    // Static entries grow the same array.
    ASSERT_EQ(add_static_entry(&namelist_entry), 0);
    EXPECT_EQ(run.entry_table.count, 22u);
}

TEST_F(catalogue, LargeTablesGrowByHalfAgainNotByTen) {
    start_prefix();
    std::vector<uint64_t> capacities;
    for (int i = 0; i < 100000; i++) {
        ASSERT_EQ(add_file_entry("f"), 0);
        uint64_t capacity = run.entry_table.capacity;
        if (capacities.empty() || capacities.back() != capacity) capacities.push_back(capacity);
        ASSERT_GT(capacity, run.entry_table.count);
    }
    std::vector<uint64_t> first(capacities.begin(), capacities.begin() + 6);
    EXPECT_EQ(first, (std::vector<uint64_t>{10, 20, 30, 50, 80, 120}));
    // Steps of ten would copy the slots ten thousand times on the way.
    EXPECT_LT(capacities.size(), 30u);
}

TEST_F(catalogue, EntriesTakeTheirNamesFromThePrefix) {
    start_prefix();
    ASSERT_EQ(add_dir_entry(), 0);
    set_prefix("/sub/");
    ASSERT_EQ(add_dir_entry(), 0);
    ASSERT_EQ(add_file_entry("f.txt"), 0);
    settings.file_section = -2;
    ASSERT_EQ(add_file_entry("g"), 0);

    its_entry **slots = run.entry_table.entries;
    EXPECT_STREQ(slots[0]->name, "/");
    EXPECT_EQ(slots[0]->name_len, 1);
    EXPECT_EQ(slots[0]->section, 0u);
    EXPECT_EQ(slots[0]->is_static, 0);
    EXPECT_STREQ(slots[1]->name, "/sub/");
    EXPECT_EQ(slots[1]->name_len, 5);
    EXPECT_STREQ(slots[2]->name, "/sub/f.txt");
    EXPECT_EQ(slots[2]->name_len, 10);
    EXPECT_EQ(slots[2]->section, 1u);
    EXPECT_EQ(slots[2]->offset, 0u);
    EXPECT_EQ(slots[2]->length, 0u);
    EXPECT_EQ(slots[2]->source_path, nullptr);
    // The section setting is signed and widened with its sign.
    EXPECT_EQ(slots[3]->section, 0xFFFFFFFEu);
    // The add routines read the prefix and leave it alone.
    EXPECT_STREQ(run.name_prefix.buffer, "/sub/");
}

TEST_F(catalogue, SortFoldsOnlyAsciiCapitals) {
    start_prefix();
    add_files({"Zed", "ab", "a0", "a.txt", "A_b", "_x", "a-b"});
    set_prefix("/a/");
    ASSERT_EQ(add_dir_entry(), 0);
    add_files({"x"});
    sort_entries();
    std::vector<std::string> expected = {"/_x", "/a-b", "/a.txt", "/a/", "/a/x", "/a0", "/A_b", "/ab", "/Zed"};
    EXPECT_EQ(table_names(), expected);
}

TEST_F(catalogue, BytesAboveAsciiSortAfterLettersWithoutFolding) {
    start_prefix();
    // "É" in UTF-8 is C3 89, "é" C3 A9: no folding outside ASCII.
    add_files({"\xc3\xa9t\xc3\xa9", "z", "\xc3\x89t\xc3\xa9", "Z1", "\x7f"});
    sort_entries();
    std::vector<std::string> expected = {"/z", "/Z1", "/\x7f", "/\xc3\x89t\xc3\xa9", "/\xc3\xa9t\xc3\xa9"};
    EXPECT_EQ(table_names(), expected);
}

TEST_F(catalogue, NamesEqualUnderFoldingSortByTheirBytes) {
    // Whatever order the directory yields them in, the result is the same.
    for (const std::vector<std::string> &order : {std::vector<std::string>{"readme", "README", "ReadMe"},
                                                  std::vector<std::string>{"README", "ReadMe", "readme"}}) {
        reset_run_for_test();
        start_prefix();
        add_files(order);
        sort_entries();
        std::vector<std::string> expected = {"/README", "/ReadMe", "/readme"};
        EXPECT_EQ(table_names(), expected);
    }
    its_entry a{6, const_cast<char *>("/ABC_d"), 0, 0, 0, 0, nullptr, nullptr, 0};
    its_entry b{6, const_cast<char *>("/abc_D"), 0, 0, 0, 0, nullptr, nullptr, 0};
    its_entry c{4, const_cast<char *>("/abc"), 0, 0, 0, 0, nullptr, nullptr, 0};
    EXPECT_EQ(compare_names(&a, &b), 0);
    EXPECT_GT(compare_names(&a, &c), 0);
    EXPECT_LT(compare_names(&c, &b), 0);
}

TEST_F(catalogue, LargeTablesSortAsNamePairsCompare) {
    // Thousands of names sharing long prefixes, differing in case, length
    // and bytes above ASCII: the order is folded bytes, then plain bytes.
    std::mt19937 random(7);
    const std::string long_prefix = "deep/" + std::string(150, 'd') + "/";
    const std::vector<std::string> starts = {"", "Dir/", "dir/", "DIR/x", long_prefix, "page000"};
    const std::string alphabet = "aAbBzZ_-.0/~\xc3\x89";
    std::vector<std::string> names;
    for (int i = 0; i < 5000; i++) {
        std::string name = starts[random() % starts.size()];
        for (size_t k = random() % 20; k > 0; k--) name += alphabet[random() % alphabet.size()];
        if (name.empty()) name = "e";
        names.push_back(name);
    }
    start_prefix();
    add_files(names);
    sort_entries();
    std::vector<std::string> expected;
    for (const std::string &name : names) expected.push_back("/" + name);
    auto folded = [](std::string text) {
        for (char &c : text)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + ('a' - 'A'));
        return text;
    };
    std::sort(expected.begin(), expected.end(), [&](const std::string &a, const std::string &b) {
        auto unsigned_less = [](const std::string &x, const std::string &y) {
            return std::lexicographical_compare(x.begin(), x.end(), y.begin(), y.end(),
                                                [](char p, char q) { return static_cast<unsigned char>(p) < static_cast<unsigned char>(q); });
        };
        std::string fa = folded(a), fb = folded(b);
        if (fa != fb) return unsigned_less(fa, fb);
        return unsigned_less(a, b);
    });
    EXPECT_EQ(table_names(), expected);
}

TEST_F(catalogue, BuiltinEntriesFollowEveryInputName) {
    ASSERT_EQ(derive_settings(), 0);
    start_prefix();
    ASSERT_EQ(add_dir_entry(), 0);
    add_files({"\xff\xff", "~", "index.html"});
    add_builtin_entries();
    sort_entries();
    std::vector<std::string> expected = {"/", "/index.html", "/~", "/\xff\xff"};
    expected.insert(expected.end(), builtin_names.begin(), builtin_names.end());
    EXPECT_EQ(table_names(), expected);
    for (uint64_t i = 4; i < run.entry_table.count; i++) {
        const its_entry *entry = run.entry_table.entries[i];
        EXPECT_EQ(entry->is_static, 1);
        EXPECT_EQ(entry->name_len, strlen(entry->name));
        EXPECT_EQ(entry->section, 0u);
    }
}

TEST_F(catalogue, BuiltinEntriesFollowTheirSettings) {
    struct {
        uint8_t transform_list, directories;
        std::vector<size_t> kept;  // indexes into builtin_names
    } cases[] = {{1, 0, {0, 1, 2, 3, 4, 6}}, {0, 1, {0, 1, 2, 3, 5, 6}}, {0, 0, {0, 1, 2, 3, 6}}};
    for (const auto &c : cases) {
        reset_run_for_test();
        settings.write_transform_list = c.transform_list;
        settings.add_directories = c.directories;
        ASSERT_EQ(derive_settings(), 0);
        add_builtin_entries();
        std::vector<std::string> expected;
        for (size_t index : c.kept) expected.push_back(builtin_names[index]);
        EXPECT_EQ(table_names(), expected);
        uint32_t lowered = c.transform_list ? 0 : 38;
        EXPECT_EQ(span_info_entry.offset, 98u - lowered);
        EXPECT_EQ(control_data_entry.offset, 106u - lowered);
        EXPECT_EQ(reset_table_entry.offset, 134u - lowered);
    }
}

TEST_F(catalogue, ReleaseFreesOwnedEntriesAndSkipsBuiltins) {
    // Run under LeakSanitizer in the sanitizer build: a missed entry leaks,
    // a freed built-in crashes.
    start_prefix();
    ASSERT_EQ(add_dir_entry(), 0);
    ASSERT_EQ(add_file_entry_from("x", "sub/x"), 0);
    add_builtin_entries();
    sort_entries();
    release_all();
    EXPECT_EQ(run.entry_table.entries, nullptr);
    EXPECT_EQ(run.name_prefix.buffer, nullptr);
    EXPECT_STREQ(namelist_entry.name, "::DataSpace/NameList");
}
