#include <gtest/gtest.h>

#include <map>
#include <stdexcept>
#include <string>

#include "internal_files/full_text_index.h"
#include "internal_files/internal_files.h"
#include "internal_files/scale_root_code.h"
#include "internal_files/shorten_text.h"
#include "internal_files/url_hash.h"

namespace {
using bytes = std::vector<uint8_t>;

bytes hex(std::string digits) {
    std::erase(digits, ' ');
    bytes out;
    for (size_t i = 0; i + 1 < digits.size(); i += 2)
        out.push_back(static_cast<uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    return out;
}
bytes text(const std::string &value) { return bytes(value.c_str(), value.c_str() + value.size() + 1); }
bytes operator+(bytes a, const bytes &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
uint32_t le32(const bytes &data, size_t offset) {
    return data.at(offset) | data.at(offset + 1) << 8 | data.at(offset + 2) << 16 | uint32_t{data.at(offset + 3)} << 24;
}
std::string string_at(const bytes &data, size_t offset) { return reinterpret_cast<const char *>(&data.at(offset)); }
const bytes &file(const std::vector<internal_file> &files, const std::string &name) {
    for (const internal_file &each : files) if (each.name == name) return each.bytes;
    throw std::runtime_error("no " + name);
}

// The demo project of the format notes: two untitled pages, a contents file.
help_project demo_project() {
    help_project project;
    project.title = "Demo";
    project.default_topic = "page 1.html";
    project.contents_file = "toc.hhc";
    project.compiled_stem = "demo";
    return project;
}
const std::vector<topic> demo_topics = {{"page 1.html", "", false}, {"page 2.html", "", false}};
constexpr int64_t demo_time = 1700000000;

// Where each code of #SYSTEM ends.
std::map<uint16_t, size_t> system_code_ends(const bytes &system) {
    std::map<uint16_t, size_t> ends;
    for (size_t at = 4; at + 4 <= system.size();) {
        uint16_t code = static_cast<uint16_t>(system[at] | system[at + 1] << 8);
        at += 4 + (system[at + 2] | system[at + 3] << 8);
        ends[code] = at;
    }
    return ends;
}
}  // namespace

TEST(internal_files, DemoProjectGivesTheKnownBytes) {
    std::vector<internal_file> files = write_internal_files(demo_project(), demo_topics, {}, demo_time);
    EXPECT_EQ(file(files, "/#STRINGS"), hex("00"));
    EXPECT_EQ(file(files, "/#URLSTR"), hex("00 00000000 00000000") + text("page 1.html") + hex("00000000 00000000") +
                                          text("page 2.html"));
    EXPECT_EQ(file(files, "/#URLTBL"), hex("C1FD3D33 00000000 01000000 7C29013C 01000000 15000000"));
    EXPECT_EQ(file(files, "/#TOPICS"), hex("00000000 FFFFFFFF 00000000 02000000 00000000 FFFFFFFF 0C000000 02000000"));
    bytes system = hex("03000000 0A00 0400 00F15365 0900 1600") + text("HHA Version 4.74.8702") +
                   hex("0400 2400 09040000 00000000 00000000 00000000 00000000 00006DC6 4717DA01 00000000 00000000") +
                   hex("0200 0C00") + text("page 1.html") + hex("0300 0500") + text("Demo") + hex("0600 0500") +
                   text("demo") + hex("0000 0800") + text("toc.hhc") + hex("0C00 0400 00000000 0D00 0010") +
                   file(files, "/#IDXHDR") + hex("0F00 0400 00000000");
    EXPECT_EQ(file(files, "/#SYSTEM"), system);
    for (const internal_file &each : files)
        EXPECT_EQ(each.in_section_0, each.name == "/#SYSTEM" || each.name == "/#ITBITS") << each.name;
    EXPECT_EQ(file(files, "/$WWKeywordLinks/Property"), hex("00000000"));
    EXPECT_THROW(file(files, "/#WINDOWS"), std::runtime_error);
}

TEST(internal_files, UrlHashMatchesCompiledFiles) {
    const std::pair<const char *, uint32_t> vectors[] = {
        {"default.html", 0xB8CA7728}, {"page 1.html", 0x333DFDC1},   {"page 2.html", 0x3C01297C},
        {"Untitled1.htm", 0x239B3F03}, {"Untitled2.htm", 0x23CF69B4}, {"Index.hhk", 0x18FFD71B},
        {"topics.classic.hhc", 0x918C86F1}, {"topics.classic.hhk", 0x918C86F9}, {"ScribbleLineWidth.html", 0x0637476B}};
    for (auto [url, hash] : vectors) EXPECT_EQ(url_hash(url), hash) << url;
}

TEST(internal_files, ShortenedTextKeepsDoubleByteCharactersWhole) {
    EXPECT_EQ(shorten_text("\x82\xA0\x82\xA2x", 3, 932), "\x82\xA0");
    EXPECT_EQ(shorten_text("a\xB1\x82\xA0", 3, 932), "a\xB1");  // 0xB1: one-byte katakana
    EXPECT_EQ(shorten_text("\xC4\xE3\xBA\xC3", 3, 1252), "\xC4\xE3\xBA");
}

// A large project: every record leads to the next table, nothing the
// viewers read by block crosses one, and the codes they read stay in reach.
TEST(internal_files, LargeProjectKeepsTheTablesConsistent) {
    help_project project = demo_project();
    project.title = std::string(5000, 'T');
    project.index_file = "index.hhk";
    project.merge_files = {"other.chm"};
    std::vector<topic> topics;
    for (int i = 0; i < 1000; i++) {
        std::string title = i % 7 == 0 ? "" : std::string(50 + i % 300, static_cast<char>('a' + i % 26));
        topics.push_back({"dir/" + std::string(i % 200, 'p') + std::to_string(i) + ".html", title, i % 3 == 0});
    }
    topics.push_back(topics[5]);  // the same URL twice
    topics.push_back({"long.html", std::string(5000, 'L'), false});  // too long for a block
    sitemap_properties properties;
    properties.from_contents_file = true;
    properties.background = "0x00FF";
    properties.window_styles = "bad";
    auto files = write_internal_files(project, topics, properties, demo_time);
    const bytes &topics_file = file(files, "/#TOPICS"), &table = file(files, "/#URLTBL"),
                &urls = file(files, "/#URLSTR"), &strings = file(files, "/#STRINGS");
    ASSERT_EQ(table.size(), 12 * topics.size() + 4 * (topics.size() / 341));
    for (uint32_t i = 0; i < topics.size(); i++) {
        uint32_t title = le32(topics_file, 16 * i + 4), record = le32(topics_file, 16 * i + 8);
        EXPECT_EQ(title == 0xFFFFFFFF ? "" : string_at(strings, title), topics[i].title.substr(0, 4095));
        EXPECT_EQ(le32(topics_file, 16 * i + 12), topics[i].in_contents ? 6u : 2u);
        ASSERT_LE(record % 4096 + 12, 4092u);
        EXPECT_EQ(le32(table, record), url_hash(topics[i].path));
        EXPECT_EQ(le32(table, record + 4), i);
        uint32_t url = le32(table, record + 8);
        EXPECT_EQ(string_at(urls, url + 8), topics[i].path);
        EXPECT_LE(url % 4096 + 9 + topics[i].path.size(), 4096u);
    }
    uint64_t previous = 0;  // hash and topic number
    for (size_t k = 0; k < topics.size(); k++) {
        size_t at = k / 341 * 4096 + k % 341 * 12;
        uint64_t key = uint64_t{le32(table, at)} << 32 | le32(table, at + 4);
        EXPECT_TRUE(k == 0 || previous < key) << k;
        previous = key;
        EXPECT_TRUE(k % 341 != 340 || le32(table, at + 12) == 0) << k;
    }
    for (size_t block = 4096; block < strings.size(); block += 4096) EXPECT_EQ(strings[block - 1], 0) << block;
    const bytes &system = file(files, "/#SYSTEM"), &header = file(files, "/#IDXHDR");
    std::map<uint16_t, size_t> ends = system_code_ends(system);
    for (uint16_t code : {0, 1, 2, 3, 4, 6}) EXPECT_LE(ends.at(code), 4u + 4096) << code;
    EXPECT_EQ(ends.at(1), 4u + 4096);  // the title shortened to fit exactly
    EXPECT_EQ(bytes(system.begin() + ends.at(13) - 4096, system.begin() + ends.at(13)), header);
    EXPECT_EQ(le32(header, 0x20), 0xFFu);        // Background
    EXPECT_EQ(le32(header, 0x24), 0xFFFFFFFFu);  // Foreground unset
    EXPECT_EQ(le32(header, 0x2C), 0xFFFFFFFFu);  // Window Styles not a number
    EXPECT_EQ(string_at(strings, le32(header, 0x50)), "other.chm");
    EXPECT_EQ(le32(header, 0x0C), topics.size());
}

// Two windows, the default defined second; the IVB names a window's page.
TEST(internal_files, WindowsAndContextIdsLayout) {
    help_project project = demo_project();
    project.default_window = "main";
    project_window side, main;
    side.name = "side";
    side.caption = "Side";
    main.name = "Main";
    main.caption = "Demo";
    main.contents_file = "toc.hhc";
    main.default_file = main.home_file = "page 1.html";
    side.navigation_width = {150, true};
    main.navigation_style = {0x63520, true};
    main.navigation_width = {200, true};
    main.position[2] = {600, true};
    main.buttons = {0x380E, true};
    main.navigation_position = {0, true};
    project.windows = {side, main};
    project.context_ids = {{1000, "page 1.html"}, {7, "page 2.html"}};
    auto files = write_internal_files(project, demo_topics, {}, demo_time);
    EXPECT_EQ(file(files, "/#STRINGS"), text("") + text("Main") + text("Demo") + text("toc.hhc") + text("page 1.html") +
                                           text("side") + text("Side") + text("page 2.html"));
    const bytes &windows = file(files, "/#WINDOWS");
    ASSERT_EQ(windows.size(), 8u + 2 * 0xC4);
    // (offset in the file, value): count, entry size, the Default Window, then the other one.
    const std::pair<size_t, uint32_t> fields[] = {
        {0, 2},          {4, 0xC4},         {8, 0xC4},       {8 + 0x08, 1},     {8 + 0x0C, 0x532}, {8 + 0x10, 0x63520},
        {8 + 0x14, 6},   {8 + 0x28, 600},   {8 + 0x4C, 200}, {8 + 0x60, 11},    {8 + 0x64, 0},     {8 + 0x68, 19},
        {8 + 0x6C, 19},  {8 + 0x70, 0x380E}, {8 + 0x9C, 0},  {204 + 0x08, 31},  {204 + 0x0C, 0x20}, {204 + 0x4C, 150}};
    for (auto [offset, value] : fields) EXPECT_EQ(le32(windows, offset), value) << offset;
    EXPECT_EQ(file(files, "/#IVB"), hex("10000000 E8030000 13000000 07000000 29000000"));
}

TEST(full_text_index, ScaleRootCodesMatchTheViewersDecoding) {
    struct row {
        uint32_t root, value;
        std::string bits;
    };
    for (const row &r : {row{0, 0, "0"}, row{0, 1, "10"}, row{0, 2, "1100"}, row{0, 3, "1101"}, row{0, 4, "111000"},
                         row{1, 0, "00"}, row{1, 1, "01"}, row{1, 2, "100"}, row{1, 3, "101"}, row{1, 4, "11000"},
                         row{4, 119, "1110110111"}}) {
        bit_output out;
        out.put_code(r.value, r.root);
        std::string written;
        for (size_t i = 0; i < r.bits.size(); i++) written += (out.bytes[i / 8] >> (7 - i % 8)) & 1 ? '1' : '0';
        EXPECT_EQ(written, r.bits) << r.value << " with root " << r.root;
        EXPECT_EQ(scale_root_bits(r.value, r.root), r.bits.size());
        EXPECT_EQ(out.bytes.size(), (r.bits.size() + 7) / 8);
    }
    // Mostly values near 20: root 4 or 5 beats coding them from root 0.
    value_spread spread;
    for (uint32_t v : {17u, 20u, 22u, 19u, 3u, 25u}) spread.add(v);
    EXPECT_EQ(best_root(spread), 4u);
    EXPECT_LT(stream_bits(spread, 4), stream_bits(spread, 0));
}

TEST(full_text_index, DemoProjectGivesTheKnownBytes) {
    // The worked example: "Page 1" and "Page 2", untitled; every root 0.
    full_text_index index;
    for (uint32_t page : {0u, 1u}) {
        start_document(index, page);
        add_text(index, "Pa", false);
        add_text(index, "ge " + std::to_string(page + 1), false);
        end_document(index);
    }
    full_text_file fts = build_full_text_file(index, 2, 0x409, 1252);
    const bytes &out = fts.bytes;
    ASSERT_EQ(out.size(), 0x1404u);
    EXPECT_EQ(bytes(out.begin() + 0x400, out.begin() + 0x404), hex("50 A8 40 A0"));
    bytes leaf = hex("00000000 0000 D10F") + hex("0200 31 00 01 00040000 0000 01") +
                 hex("0200 32 00 01 01040000 0000 01") + hex("0500 70616765 00 02 02040000 0000 02");
    EXPECT_EQ(bytes(out.begin() + 0x404, out.begin() + 0x404 + leaf.size()), leaf);
    EXPECT_EQ(le32(out, 0x00), 0x00280000u);
    for (auto [offset, value] : std::map<size_t, uint32_t>{{0x04, 2}, {0x08, 0x404}, {0x10, 1}, {0x14, 0x404},
                                                           {0x2E, 4096}, {0x3E, 4}, {0x42, 4}, {0x46, 3},
                                                           {0x5E, 1}, {0x7A, 1252}, {0x7E, 0x409}})
        EXPECT_EQ(le32(out, offset), value) << std::hex << offset;
    EXPECT_EQ(bytes(out.begin() + 0x18, out.begin() + 0x24), hex("0100 07000000 020002000200"));
}

TEST(full_text_index, HugeWordsAndOddBytesNeverBreakTheIndex) {
    // A 1 MB word is not indexed but keeps its place; NUL bytes and bytes
    // that are not UTF-8 part words; a word split across calls is one.
    full_text_index index;
    start_document(index, 0);
    add_text(index, "before " + std::string(1 << 20, 'x') + " after ", false);
    add_text(index, std::string("nul\0byte \xFF\xFE sp", 14), false);
    add_text(index, "lit Caf\xC3\xA9", false);
    add_text(index, "Kelto", true);
    end_document(index);
    EXPECT_EQ(index.body.count("before") + index.body.count("after") + index.body.count("caf\xC3\xA9"), 3u);
    EXPECT_EQ(index.body.count("split"), 1u);
    EXPECT_EQ(index.body.count("nul") + index.body.count("byte"), 2u);
    EXPECT_EQ(index.title.count("kelto"), 1u);
    EXPECT_EQ(index.location, 8u);  // before, xxx..., after, nul, byte, split, café, kelto
    full_text_file fts = build_full_text_file(index, 1, 0x409, 1252);
    EXPECT_EQ(fts.words, 7u);
    EXPECT_EQ(le32(fts.bytes, 0x3E), 6u);  // the longest word indexed
}
