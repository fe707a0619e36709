#include "internal_files/string_pool.h"

#include "internal_files/shorten_text.h"

string_pool::string_pool(uint32_t code_page) : code_page(code_page), pool(1, 0) {}

uint32_t string_pool::add(std::string_view text) {
    text = shorten_text(text, viewer_block - 1, code_page);
    if (text.empty()) return 0;
    auto [place, added] = offsets.try_emplace(std::string(text), 0);
    if (!added) return place->second;
    start_item_in_one_block(pool, text.size() + 1);
    place->second = static_cast<uint32_t>(pool.size());
    append_text(pool, text);
    return place->second;
}
