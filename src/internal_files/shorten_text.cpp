#include "internal_files/shorten_text.h"

#include "project/code_page.h"

namespace {
// The bytes that start a two-byte character: Shift-JIS leaves 0xA0-0xDF to
// the one-byte katakana; GBK, UHC and Big5 lead with 0x81-0xFE.
bool is_lead_byte(unsigned char c, uint32_t code_page) {
    if (code_page == 932) return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
    return c >= 0x81 && c <= 0xFE;
}
}  // namespace

std::string_view shorten_text(std::string_view text, size_t max_bytes, uint32_t code_page) {
    if (text.size() <= max_bytes) return text;
    if (!is_double_byte(code_page)) return text.substr(0, max_bytes);
    size_t end = 0;
    while (end < text.size()) {
        size_t step = is_lead_byte(static_cast<unsigned char>(text[end]), code_page) ? 2 : 1;
        if (end + step > max_bytes) break;
        end += step;
    }
    return text.substr(0, end);
}
