#include "run/full_text_feed.h"

#include <cstdio>

#include "project/code_page.h"
#include "run/fatal.h"
#include "run/run_state.h"

namespace {
void take_text(void *user, std::string_view text, bool in_title) {
    add_text(static_cast<full_text_feed *>(user)->index, text, in_title);
}

void write_index(full_text_feed &feed, its_entry *entry) {
    feed.file = build_full_text_file(feed.index, feed.topic_count, feed.lcid, feed.code_page);
    if (feed.file.bytes.empty())
        end_run("ERROR: The full-text index has more words than nodes of 65536 bytes hold in two levels\n");
    if (feed.file.node_size > 4096)
        printf("WARNING: The full-text index takes nodes of %u bytes, as two levels of 4096-byte nodes cannot hold "
               "its %llu words: xchm and pychm search it, the Windows viewer is untested with such nodes\n",
               feed.file.node_size, static_cast<unsigned long long>(feed.file.words));
    entry->memory = feed.file.bytes.data();
    entry->memory_length = static_cast<uint32_t>(feed.file.bytes.size());
}

void start(void *context, its_entry *entry) {
    full_text_feed &feed = *static_cast<full_text_feed *>(context);
    if (entry == feed.index_entry) {
        write_index(feed, entry);
        return;
    }
    auto document = feed.documents.find(entry);
    if (document == feed.documents.end()) return;
    start_document(feed.index, document->second);
    feed.page = std::make_unique<page_scan>();
    feed.page->text = take_text;
    feed.page->user = &feed;
    start_page_scan(*feed.page);
}

void bytes(void *context, const its_entry *, const char *data, size_t size) {
    full_text_feed &feed = *static_cast<full_text_feed *>(context);
    if (feed.page) push_markup(feed.page->reader, data, size);
}

void end(void *context, const its_entry *) {
    full_text_feed &feed = *static_cast<full_text_feed *>(context);
    if (!feed.page) return;
    finish_page_scan(*feed.page);
    feed.page.reset();
    end_document(feed.index);
}
}  // namespace

void watch_feed(full_text_feed &feed) { run.observer = feed_observer{start, bytes, end, &feed}; }

std::vector<std::string> stop_words_of(const std::string &text, uint32_t code_page) {
    std::string utf8 = text;
    if (!is_valid_utf8(text)) {
        code_page_converter to_utf8(code_page_name(code_page).c_str(), "UTF-8");
        bool lost = false;
        utf8 = to_utf8.convert(text, lost);
    }
    full_text_index words;
    start_document(words, 0);
    add_text(words, utf8, false);
    end_document(words);
    std::vector<std::string> list;
    for (const auto &[word, places] : words.body) list.push_back(word);
    return list;
}
