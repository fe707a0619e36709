// The full-text index of a compiled help file (/$FIftiMain): every word of
// every page with the pages and the places it stands in, which the viewers'
// search tabs read. Pages are tokenised as their bytes go to the compressor
// and must come in ascending document (topic) order.
#pragma once
#include <clocale>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "internal_files/byte_output.h"

// Words longer than this (in bytes of the code page) are not indexed: a
// leaf entry holds at most 254 new bytes, and nobody searches for a
// base64 blob.
constexpr size_t longest_indexed_word = 128;

// Where one word (in one context: body or title) occurs: per document, a
// 0, the document's distance from the previous one and the first location;
// then each further location's distance from the one before (never 0);
// all as base-128 numbers.
struct word_places {
    byte_vector coded;
    uint32_t last_document = UINT32_MAX;
    uint32_t last_location = 0;
    uint32_t documents = 0;
};

struct text_hash {
    using is_transparent = void;
    size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
};
using word_table = std::unordered_map<std::string, word_places, text_hash, std::equal_to<>>;

struct full_text_index {
    // Stop words come lower-cased, in UTF-8.
    explicit full_text_index(std::vector<std::string> stop_words = {});
    ~full_text_index();
    full_text_index(const full_text_index &) = delete;
    full_text_index &operator=(const full_text_index &) = delete;

    locale_t unicode;  // for the letters and case of characters beyond ASCII
    std::unordered_map<std::string, bool, text_hash, std::equal_to<>> stop_words;
    word_table body;
    word_table title;

    // The page being read.
    uint32_t document = 0;
    bool open = false;
    uint32_t location = 0;   // of the next word in the page
    std::string word;        // lower-cased UTF-8 so far
    bool word_in_title = false;
    bool word_too_long = false;
};

// A page starts: its words count from location 0.
void start_document(full_text_index &index, uint32_t document);
// Text of the page in UTF-8, as a parser hands it over (a word may go on
// into the next call); in_title for the text of <title>.
void add_text(full_text_index &index, std::string_view utf8, bool in_title);
// A break between words that no character shows (a block element's edge).
void end_word(full_text_index &index);
void end_document(full_text_index &index);

struct full_text_file {
    byte_vector bytes;
    uint32_t node_size = 4096;
    uint64_t words = 0;      // distinct words written
    uint64_t locations = 0;  // word occurrences written
    uint32_t roots[3] = {};  // of document, count and location codes
};

// Lays out /$FIftiMain for documents pages of the language lcid, words in
// its code page. Nodes grow beyond 4096 bytes only when two levels of them
// cannot hold the word list (node_size tells). An empty result when even
// 65536-byte nodes cannot.
full_text_file build_full_text_file(const full_text_index &index, uint32_t documents, uint32_t lcid,
                                    uint32_t code_page);
