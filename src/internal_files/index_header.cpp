// /#IDXHDR: topic count, the contents file's global properties and the
// merge files, in one 4096-byte block (copied into /#SYSTEM as code 13).
#include <charconv>
#include <cstring>

#include "internal_files/file_builders.h"

namespace {
constexpr size_t header_size = 4096;
constexpr size_t merge_list = 0x50;
constexpr uint32_t not_a_number = 0xFFFFFFFF;

// A colour or style value as the contents file writes it: "0x" hex or decimal.
uint32_t property_number(std::string_view text) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        base = 16;
    }
    uint32_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (error != std::errc{} || end != text.data() + text.size()) return not_a_number;
    return value;
}
}  // namespace

byte_vector build_index_header(const sitemap_properties &properties, const std::vector<std::string> &merge_files,
                               uint32_t topic_count, uint32_t build_seconds, string_pool &strings) {
    byte_vector out(header_size, 0);
    memcpy(out.data(), "T#SM", 4);
    store_le32(out, 0x04, build_seconds);
    store_le32(out, 0x08, 1);
    store_le32(out, 0x0C, topic_count);
    // Without a contents file the property fields stay 0.
    uint32_t unset = properties.from_contents_file ? 0xFFFFFFFF : 0;
    auto text = [&](size_t field, const std::string &value) {
        store_le32(out, field, value.empty() ? unset : strings.add(value));
    };
    auto number = [&](size_t field, const std::string &value) {
        store_le32(out, field, value.empty() ? unset : property_number(value));
    };
    text(0x14, properties.image_list);
    text(0x28, properties.font);
    text(0x38, properties.frame_name);
    text(0x3C, properties.window_name);
    store_le32(out, 0x1C, properties.folder_images ? 1 : 0);
    number(0x20, properties.background);
    number(0x24, properties.foreground);
    number(0x2C, properties.window_styles);
    number(0x30, properties.ex_window_styles);
    store_le32(out, 0x34, unset);
    store_le32(out, 0x44, 1);
    size_t merge_count = std::min(merge_files.size(), (header_size - merge_list) / 4);
    store_le32(out, 0x48, static_cast<uint32_t>(merge_count));
    for (size_t i = 0; i < merge_count; i++) store_le32(out, merge_list + 4 * i, strings.add(merge_files[i]));
    return out;
}
