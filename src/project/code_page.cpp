#include "project/code_page.h"

#include <strings.h>

#include <cerrno>
#include <string>

uint32_t code_page_of(uint32_t lcid) {
    uint32_t language = lcid & 0x3FF;
    uint32_t sublanguage = (lcid >> 10) & 0x3F;
    switch (language) {
    case 0x04:  // Chinese: Taiwan, Hong Kong and Macau write traditional characters
        return sublanguage == 2 || sublanguage == 4 ? 936 : 950;
    case 0x11: return 932;
    case 0x12: return 949;
    case 0x1E: return 874;
    case 0x2A: return 1258;
    case 0x05: case 0x0E: case 0x15: case 0x18: case 0x1B: case 0x1C: case 0x24: return 1250;
    case 0x1A:  // Croatian, Serbian and Bosnian: Cyrillic in sublanguages 3 and 8
        return sublanguage == 3 || sublanguage == 8 ? 1251 : 1250;
    case 0x02: case 0x19: case 0x22: case 0x23: case 0x28: case 0x2F: case 0x3F: case 0x40: case 0x44: case 0x50:
        return 1251;
    case 0x08: return 1253;
    case 0x1F: return 1254;
    case 0x2C: case 0x43:  // Azeri and Uzbek: Latin, or Cyrillic in sublanguage 2
        return sublanguage == 2 ? 1251 : 1254;
    case 0x0D: return 1255;
    case 0x01: case 0x20: case 0x29: return 1256;
    case 0x25: case 0x26: case 0x27: return 1257;
    default: return 1252;
    }
}

std::string code_page_name(uint32_t code_page) { return "CP" + std::to_string(code_page); }

bool is_double_byte(uint32_t code_page) {
    return code_page == 932 || code_page == 936 || code_page == 949 || code_page == 950;
}

bool is_ascii(std::string_view text) {
    for (unsigned char c : text) {
        if (c >= 0x80) return false;
    }
    return true;
}

bool is_valid_utf8(std::string_view text) {
    size_t i = 0, n = text.size();
    while (i < n) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            i++;
            continue;
        }
        size_t length;
        uint32_t least;
        if (c >= 0xC2 && c <= 0xDF) length = 2, least = 0x80;
        else if (c >= 0xE0 && c <= 0xEF) length = 3, least = 0x800;
        else if (c >= 0xF0 && c <= 0xF4) length = 4, least = 0x10000;
        else return false;
        if (n - i < length) return false;
        uint32_t value = c & (0x7F >> length);
        for (size_t k = 1; k < length; k++) {
            unsigned char next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            value = value << 6 | (next & 0x3F);
        }
        // Overlong forms, surrogates and values past Unicode's end.
        if (value < least || (value >= 0xD800 && value <= 0xDFFF) || value > 0x10FFFF) return false;
        i += length;
    }
    return true;
}

code_page_converter::code_page_converter(const char *from, uint32_t code_page)
    : code_page_converter(from, code_page_name(code_page).c_str()) {}

code_page_converter::code_page_converter(const char *from, const char *to) {
    descriptor = iconv_open(to, from);
    from_utf8 = strcasecmp(from, "UTF-8") == 0;
}

code_page_converter::~code_page_converter() {
    if (usable()) iconv_close(descriptor);
}

std::string code_page_converter::convert(std::string_view text, bool &lost) {
    std::string out;
    // The code pages all agree with ASCII.
    if (is_ascii(text)) return std::string(text);
    if (!usable()) {
        lost = lost || !is_ascii(text);
        return std::string(text);
    }
    iconv(descriptor, nullptr, nullptr, nullptr, nullptr);
    char buffer[1024];
    char *in = const_cast<char *>(text.data());
    size_t in_left = text.size();
    while (true) {
        char *at = buffer;
        size_t room = sizeof buffer;
        size_t result = in_left ? iconv(descriptor, &in, &in_left, &at, &room) : iconv(descriptor, nullptr, nullptr, &at, &room);
        out.append(buffer, static_cast<size_t>(at - buffer));
        if (result != static_cast<size_t>(-1)) {
            if (in_left == 0) break;
            continue;
        }
        if (errno == E2BIG) continue;
        // A character the target lacks (EILSEQ) or a sequence cut short
        // (EINVAL): one "?" in its place, and on past the source character.
        lost = true;
        out += '?';
        size_t skip = 1;
        while (from_utf8 && skip < in_left && (static_cast<unsigned char>(in[skip]) & 0xC0) == 0x80) skip++;
        in += skip;
        in_left -= skip;
        if (in_left == 0) break;
    }
    return out;
}
