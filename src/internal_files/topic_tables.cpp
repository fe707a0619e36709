// /#TOPICS, /#URLTBL and /#URLSTR: a topic's record names its URL table
// record, which names its URL string.
#include <algorithm>
#include <utility>

#include "internal_files/file_builders.h"
#include "internal_files/url_hash.h"

namespace {
constexpr uint32_t records_per_block = viewer_block / 12;  // 341, then 4 bytes of padding
constexpr uint16_t flag_compiled = 0x2;
constexpr uint16_t flag_in_contents = 0x4;

// Byte 0 unused, then per topic: URL and frame name offsets (never used)
// and the path. Returns each topic's entry offset.
std::vector<uint32_t> build_url_strings(const std::vector<topic> &topics, byte_vector &out) {
    std::vector<uint32_t> entry_at;
    out.push_back(0);
    for (const topic &page : topics) {
        start_item_in_one_block(out, 8 + page.path.size() + 1);
        entry_at.push_back(static_cast<uint32_t>(out.size()));
        append_le32(out, 0);
        append_le32(out, 0);
        append_text(out, page.path);
    }
    return entry_at;
}

// Records sorted by hash, then topic number. Returns each topic's record offset.
std::vector<uint32_t> build_url_table(const std::vector<topic> &topics, const std::vector<uint32_t> &url_string_at,
                                      byte_vector &out) {
    std::vector<std::pair<uint32_t, uint32_t>> order;  // (hash, topic number)
    for (uint32_t i = 0; i < topics.size(); i++) order.emplace_back(url_hash(topics[i].path), i);
    std::sort(order.begin(), order.end());
    std::vector<uint32_t> record_at(topics.size());
    for (size_t k = 0; k < order.size(); k++) {
        if (k != 0 && k % records_per_block == 0) append_le32(out, 0);
        auto [hash, number] = order[k];
        record_at[number] = static_cast<uint32_t>(out.size());
        append_le32(out, hash);
        append_le32(out, number);
        append_le32(out, url_string_at[number]);
    }
    return record_at;
}
}  // namespace

topic_tables build_topic_tables(const std::vector<topic> &topics, string_pool &strings) {
    topic_tables tables;
    std::vector<uint32_t> url_string_at = build_url_strings(topics, tables.url_strings);
    std::vector<uint32_t> record_at = build_url_table(topics, url_string_at, tables.url_table);
    for (size_t i = 0; i < topics.size(); i++) {
        append_le32(tables.topics, 0);  // no binary contents to point into
        append_le32(tables.topics, topics[i].title.empty() ? 0xFFFFFFFF : strings.add(topics[i].title));
        append_le32(tables.topics, record_at[i]);
        append_le16(tables.topics, topics[i].in_contents ? flag_compiled | flag_in_contents : flag_compiled);
        append_le16(tables.topics, 0);
    }
    return tables;
}
