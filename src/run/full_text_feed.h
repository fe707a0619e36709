// The full-text index of a compiled help file, built on the thread that
// feeds the compressor: each page is tokenised as its bytes go to the
// workers, and the index is laid out when the pass reaches its entry, last.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>

#include "catalogue/entry_table.h"
#include "internal_files/full_text_index.h"
#include "project/page_scan.h"

struct full_text_feed {
    explicit full_text_feed(std::vector<std::string> stop_words) : index(std::move(stop_words)) {}

    full_text_index index;
    std::unordered_map<const its_entry *, uint32_t> documents;  // the pages, by topic number
    its_entry *index_entry = nullptr;                            // /$FIftiMain
    uint32_t topic_count = 0;
    uint32_t lcid = 0x409;
    uint32_t code_page = 1252;

    std::unique_ptr<page_scan> page;  // the page being fed
    full_text_file file;             // its bytes back the index entry
};

// Makes the compression pass tell feed of every entry it reads.
void watch_feed(full_text_feed &feed);

// The words of a stop list file, lower-cased as the index takes them;
// text in UTF-8 or in the code page.
std::vector<std::string> stop_words_of(const std::string &text, uint32_t code_page);
