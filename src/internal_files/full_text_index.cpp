#include "internal_files/full_text_index.h"

#include <algorithm>
#include <cwctype>

#include "internal_files/scale_root_code.h"
#include "project/code_page.h"

namespace {
constexpr uint32_t smallest_node = 4096;
constexpr uint32_t largest_node = 65536;  // nodes count their free bytes in 16 bits
constexpr uint32_t header_size = 0x400;
constexpr uint32_t leaf_header = 8;
constexpr uint32_t index_header = 2;
// Bytes of UTF-8 that a word of longest_indexed_word characters can take.
constexpr size_t longest_utf8_word = 4 * longest_indexed_word;

void put_number(byte_vector &out, uint32_t value) {
    while (value >= 0x80) {
        out.push_back(static_cast<uint8_t>(value | 0x80));
        value >>= 7;
    }
    out.push_back(static_cast<uint8_t>(value));
}

uint32_t take_number(const byte_vector &in, size_t &at) {
    uint32_t value = 0;
    for (uint32_t shift = 0;; shift += 7) {
        uint8_t byte = in[at++];
        value |= static_cast<uint32_t>(byte & 0x7F) << shift;
        if (!(byte & 0x80)) return value;
    }
}

bool ascii_word_character(unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

void append_utf8(std::string &out, uint32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | c >> 6);
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | c >> 12);
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | c >> 18);
        out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Appends one lower-cased character, in UTF-8, to the word being read.
void add_character(full_text_index &index, std::string_view character) {
    if (index.word_too_long) return;
    if (index.word.size() >= longest_utf8_word) {
        index.word_too_long = true;
        return;
    }
    index.word += character;
}

void record(full_text_index &index, word_table &table) {
    auto found = table.find(std::string_view(index.word));
    if (found == table.end()) found = table.emplace(index.word, word_places{}).first;
    word_places &places = found->second;
    if (places.last_document != index.document) {
        put_number(places.coded, 0);
        put_number(places.coded, places.last_document == UINT32_MAX ? index.document
                                                                      : index.document - places.last_document);
        put_number(places.coded, index.location);
        places.last_document = index.document;
        places.documents++;
    } else {
        put_number(places.coded, index.location - places.last_location);
    }
    places.last_location = index.location;
}

// Calls each(document distance, locations in it, first location,
// distances of the others) for every document of the word.
template <typename each_document>
void for_each_document(const word_places &places, each_document each) {
    std::vector<uint32_t> distances;
    uint32_t document_step = 0;
    size_t at = 0;
    const byte_vector &coded = places.coded;
    while (at < coded.size()) {
        take_number(coded, at);  // the 0 that starts a document
        document_step = take_number(coded, at);
        distances.assign(1, take_number(coded, at));
        while (at < coded.size() && coded[at] != 0) distances.push_back(take_number(coded, at));
        each(document_step, distances);
    }
}

struct entry {
    std::string word;  // in the code page
    uint8_t context;   // 0 body, 1 title
    const word_places *places;
    uint32_t block_offset = 0;
    uint32_t block_length = 0;
};

std::vector<entry> sorted_entries(const full_text_index &index, uint32_t code_page) {
    std::vector<entry> entries;
    code_page_converter convert("UTF-8", code_page);
    for (const word_table *table : {&index.body, &index.title}) {
        for (const auto &[word, places] : *table) {
            bool lost = false;
            std::string coded = convert.convert(word, lost);
            // A word the code page cannot spell cannot be typed into a search
            // either.
            if (lost || coded.empty() || coded.size() > longest_indexed_word) continue;
            entries.push_back({coded, static_cast<uint8_t>(table == &index.title), &places});
        }
    }
    // compare() orders bytes as unsigned, as the viewers' descent expects.
    std::sort(entries.begin(), entries.end(), [](const entry &a, const entry &b) {
        int order = a.word.compare(b.word);
        return order != 0 ? order < 0 : a.context < b.context;
    });
    return entries;
}

uint32_t shared_prefix(const std::string &a, const std::string &b) {
    uint32_t n = 0;
    while (n < a.size() && n < b.size() && n < 255 && a[n] == b[n]) n++;
    return n;
}

// Reserved up front: g++ 12 at -O3 takes the insert after two push_backs
// for an overflow otherwise.
constexpr size_t entry_room = 2 + longest_indexed_word + 16;

byte_vector leaf_entry(const entry &e, const std::string &previous) {
    byte_vector out;
    out.reserve(entry_room);
    uint32_t prefix = shared_prefix(e.word, previous);
    out.push_back(static_cast<uint8_t>(1 + e.word.size() - prefix));
    out.push_back(static_cast<uint8_t>(prefix));
    out.insert(out.end(), e.word.begin() + prefix, e.word.end());
    out.push_back(e.context);
    put_number(out, e.places->documents);
    append_le32(out, e.block_offset);
    append_le16(out, 0);
    put_number(out, e.block_length);
    return out;
}

byte_vector index_entry(const std::string &key, uint32_t leaf_offset, const std::string &previous) {
    byte_vector out;
    out.reserve(entry_room);
    uint32_t prefix = shared_prefix(key, previous);
    out.push_back(static_cast<uint8_t>(1 + key.size() - prefix));
    out.push_back(static_cast<uint8_t>(prefix));
    out.insert(out.end(), key.begin() + prefix, key.end());
    append_le32(out, leaf_offset);
    append_le16(out, 0);
    return out;
}

struct tree {
    std::vector<byte_vector> leaves;  // each node_size bytes
    std::vector<std::string> last_words;
    byte_vector root_index;  // empty at depth 1
};

// The leaves and, when there is more than one, the index node over them;
// false when the index node does not fit.
bool lay_out_tree(const std::vector<entry> &entries, uint32_t node_size, uint32_t leaves_at, tree &out) {
    out = tree{};
    std::string previous;
    byte_vector leaf;
    auto close_leaf = [&](bool last) {
        uint32_t free = node_size - static_cast<uint32_t>(leaf.size()) - leaf_header;
        byte_vector node;
        append_le32(node, last ? 0 : leaves_at + static_cast<uint32_t>(out.leaves.size() + 1) * node_size);
        append_le16(node, 0);
        append_le16(node, static_cast<uint16_t>(free));
        node.insert(node.end(), leaf.begin(), leaf.end());
        node.resize(node_size, 0);
        out.leaves.push_back(std::move(node));
        out.last_words.push_back(previous);
        leaf.clear();
        previous.clear();
    };
    for (const entry &e : entries) {
        byte_vector coded = leaf_entry(e, previous);
        if (leaf_header + leaf.size() + coded.size() > node_size) {
            close_leaf(false);
            coded = leaf_entry(e, previous);
        }
        leaf.insert(leaf.end(), coded.begin(), coded.end());
        previous = e.word;
    }
    close_leaf(true);
    if (out.leaves.size() == 1) return true;

    byte_vector index;
    std::string key_before;
    for (size_t k = 0; k < out.leaves.size(); k++) {
        byte_vector coded =
            index_entry(out.last_words[k], leaves_at + static_cast<uint32_t>(k) * node_size, key_before);
        index.insert(index.end(), coded.begin(), coded.end());
        key_before = out.last_words[k];
    }
    if (index_header + index.size() > node_size) return false;
    append_le16(out.root_index, static_cast<uint16_t>(node_size - index_header - index.size()));
    out.root_index.insert(out.root_index.end(), index.begin(), index.end());
    out.root_index.resize(node_size, 0);
    return true;
}
}  // namespace

full_text_index::full_text_index(std::vector<std::string> stop_list) {
    unicode = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    for (std::string &word : stop_list) stop_words.emplace(std::move(word), true);
}

full_text_index::~full_text_index() {
    if (unicode) freelocale(unicode);
}

void start_document(full_text_index &index, uint32_t document) {
    index.document = document;
    index.open = true;
    index.location = 0;
    index.word.clear();
    index.word_too_long = false;
}

void end_word(full_text_index &index) {
    if (index.word.empty() && !index.word_too_long) return;
    if (!index.word_too_long && !index.stop_words.count(std::string_view(index.word)))
        record(index, index.word_in_title ? index.title : index.body);
    // Every word has its place, indexed or not.
    index.location++;
    index.word.clear();
    index.word_too_long = false;
}

void add_text(full_text_index &index, std::string_view utf8, bool in_title) {
    if (!index.open) return;
    if (in_title != index.word_in_title) {
        end_word(index);
        index.word_in_title = in_title;
    }
    std::string lowered;
    for (size_t i = 0; i < utf8.size();) {
        unsigned char c = static_cast<unsigned char>(utf8[i]);
        if (c < 0x80) {
            char lower = static_cast<char>(c >= 'A' && c <= 'Z' ? c | 0x20 : c);
            if (ascii_word_character(c)) add_character(index, std::string_view(&lower, 1));
            else end_word(index);
            i++;
            continue;
        }
        size_t length = c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        bool whole = c >= 0xC2 && c <= 0xF4 && i + length <= utf8.size();
        for (size_t k = 1; whole && k < length; k++) whole = (static_cast<unsigned char>(utf8[i + k]) & 0xC0) == 0x80;
        if (!whole) {  // not UTF-8: a break
            end_word(index);
            i++;
            continue;
        }
        uint32_t value = c & (0x7F >> length);
        for (size_t k = 1; k < length; k++) value = value << 6 | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        i += length;
        if (!index.unicode || !iswalnum_l(static_cast<wint_t>(value), index.unicode)) {
            end_word(index);
            continue;
        }
        lowered.clear();
        append_utf8(lowered, static_cast<uint32_t>(towlower_l(static_cast<wint_t>(value), index.unicode)));
        add_character(index, lowered);
    }
}

void end_document(full_text_index &index) {
    end_word(index);
    index.open = false;
}

full_text_file build_full_text_file(const full_text_index &index, uint32_t documents, uint32_t lcid,
                                    uint32_t code_page) {
    full_text_file result;
    std::vector<entry> entries = sorted_entries(index, code_page);

    value_spread spreads[3];
    for (const entry &e : entries) {
        for_each_document(*e.places, [&](uint32_t step, const std::vector<uint32_t> &distances) {
            spreads[0].add(step);
            spreads[1].add(static_cast<uint32_t>(distances.size()));
            for (uint32_t distance : distances) spreads[2].add(distance);
        });
    }
    for (int k = 0; k < 3; k++) result.roots[k] = best_root(spreads[k]);

    byte_vector blocks;
    size_t longest = 0;
    std::string previous_word;
    for (entry &e : entries) {
        bit_output bits;
        for_each_document(*e.places, [&](uint32_t step, const std::vector<uint32_t> &distances) {
            bits.put_code(step, result.roots[0]);
            bits.put_code(static_cast<uint32_t>(distances.size()), result.roots[1]);
            for (uint32_t distance : distances) bits.put_code(distance, result.roots[2]);
            bits.align();
            result.locations += distances.size();
        });
        e.block_offset = header_size + static_cast<uint32_t>(blocks.size());
        e.block_length = static_cast<uint32_t>(bits.bytes.size());
        blocks.insert(blocks.end(), bits.bytes.begin(), bits.bytes.end());
        longest = std::max(longest, e.word.size());
        if (e.word != previous_word) result.words++;
        previous_word = e.word;
    }

    uint32_t leaves_at = header_size + static_cast<uint32_t>(blocks.size());
    tree nodes;
    uint32_t node_size = smallest_node;
    while (!lay_out_tree(entries, node_size, leaves_at, nodes)) {
        node_size *= 2;
        if (node_size > largest_node) return result;
    }
    result.node_size = node_size;
    uint32_t leaf_count = static_cast<uint32_t>(nodes.leaves.size());
    uint32_t root = nodes.root_index.empty() ? leaves_at : leaves_at + leaf_count * node_size;

    byte_vector &out = result.bytes;
    append_le32(out, 0x00280000);
    append_le32(out, documents);
    append_le32(out, leaves_at);
    append_le32(out, 0);
    append_le32(out, leaf_count);
    append_le32(out, root);
    append_le16(out, static_cast<uint16_t>(nodes.root_index.empty() ? 1 : 2));
    append_le32(out, 7);
    for (uint32_t r : result.roots) {
        out.push_back(2);
        out.push_back(static_cast<uint8_t>(r));
    }
    out.resize(0x2E, 0);
    append_le32(out, node_size);
    out.resize(0x3E, 0);
    append_le32(out, static_cast<uint32_t>(longest));
    append_le32(out, static_cast<uint32_t>(result.locations));
    append_le32(out, static_cast<uint32_t>(result.words));
    out.resize(0x5E, 0);
    append_le32(out, documents ? documents - 1 : 0);
    out.resize(0x7A, 0);
    append_le32(out, code_page);
    append_le32(out, lcid);
    out.resize(header_size, 0);

    out.insert(out.end(), blocks.begin(), blocks.end());
    for (const byte_vector &leaf : nodes.leaves) out.insert(out.end(), leaf.begin(), leaf.end());
    out.insert(out.end(), nodes.root_index.begin(), nodes.root_index.end());
    return result;
}
