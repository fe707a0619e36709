#include "project/page_scan.h"

#include <strings.h>

#include <cstring>

namespace {
// Longer titles are cut: they are shown in one line of a list.
constexpr size_t longest_title = 4096;

const char *as_text(const xmlChar *text) { return reinterpret_cast<const char *>(text); }

bool named(const xmlChar *name, const char *expected) { return name && strcmp(as_text(name), expected) == 0; }

void report(page_scan &page, std::string_view value) {
    if (page.reference) page.reference(page.user, source_bytes(page.reader, value), markup_line(page.reader));
}

void report_css(void *user, std::string_view reference, unsigned) {
    page_scan &page = *static_cast<page_scan *>(user);
    if (page.reference) page.reference(page.user, reference, markup_line(page.reader));
}

// "image.png 1x, image-2.png 2x": the URL of each candidate.
void report_srcset(page_scan &page, std::string_view list) {
    size_t i = 0;
    while (i < list.size()) {
        while (i < list.size() && (list[i] == ',' || strchr(" \t\r\n\f", list[i]))) i++;
        size_t start = i;
        while (i < list.size() && !strchr(" \t\r\n\f", list[i])) i++;
        std::string_view url = list.substr(start, i - start);
        while (!url.empty() && url.back() == ',') url.remove_suffix(1);
        if (!url.empty()) report(page, url);
        if (i > start && list[i - 1] == ',') continue;
        while (i < list.size() && list[i] != ',') i++;
    }
}

// <meta http-equiv="refresh" content="0; url=next.html">
void report_refresh(page_scan &page, std::string_view content) {
    size_t at = content.find(';');
    while (at != std::string_view::npos && at < content.size()) {
        at++;
        while (at < content.size() && strchr(" \t\r\n\f", content[at])) at++;
        if (content.size() - at > 3 && strncasecmp(content.data() + at, "url", 3) == 0) {
            at += 3;
            while (at < content.size() && strchr(" \t=", content[at])) at++;
            std::string_view url = content.substr(at);
            if (!url.empty() && (url[0] == '\'' || url[0] == '"')) url = url.substr(1, url.find(url[0], 1) - 1);
            report(page, url);
            return;
        }
    }
}

void scan_inline_style(page_scan &page, std::string_view text) {
    css_scanner scanner;
    scanner.found = report_css;
    scanner.user = &page;
    scan_css(scanner, text);
}

// Attributes that name a file; libxml2 gives their names in lower case.
bool names_file(const xmlChar *attribute, bool in_object) {
    switch (attribute[0]) {
    case 'h': return named(attribute, "href");
    case 's': return named(attribute, "src");
    case 'b': return named(attribute, "background");
    case 'p': return named(attribute, "poster");
    case 'l': return named(attribute, "longdesc");
    case 'd': return in_object && named(attribute, "data");
    default: return false;
    }
}

// Elements inside a line of text, which do not part the words around them.
bool is_inline(const xmlChar *name) {
    static const char *const inline_names[] = {"a",      "abbr", "acronym", "b",    "bdi",   "bdo",  "big",  "cite",
                                               "code",   "data", "dfn",     "em",   "font",  "i",    "kbd",  "mark",
                                               "q",      "s",    "samp",    "small", "span", "strike", "strong", "sub",
                                               "sup",    "time", "tt",      "u",    "var",   "wbr"};
    for (const char *each : inline_names) {
        if (named(name, each)) return true;
    }
    return false;
}

void part_words(page_scan &page, const xmlChar *name) {
    if (page.text && !is_inline(name)) page.text(page.user, " ", false);
}

void start_element(void *user, const xmlChar *name, const xmlChar **attributes) {
    page_scan &page = *static_cast<page_scan *>(user);
    part_words(page, name);
    bool is_object = named(name, "object"), is_meta = named(name, "meta");
    if (named(name, "title") && !page.has_title) {
        page.in_title++;
        page.title_line = markup_line(page.reader);
    } else if (named(name, "style")) {
        page.in_style++;
    } else if (named(name, "script")) {
        page.in_script++;
    }
    if (!attributes) return;
    bool refresh = false;
    const xmlChar *content = nullptr;
    for (const xmlChar **at = attributes; at[0]; at += 2) {
        const xmlChar *attribute = at[0], *value = at[1];
        if (!value) continue;
        if (names_file(attribute, is_object)) report(page, as_text(value));
        else if (named(attribute, "srcset")) report_srcset(page, as_text(value));
        else if (named(attribute, "style")) scan_inline_style(page, as_text(value));
        else if (is_meta && named(attribute, "http-equiv")) refresh = strcasecmp(as_text(value), "refresh") == 0;
        else if (is_meta && named(attribute, "content")) content = value;
    }
    if (refresh && content) report_refresh(page, as_text(content));
}

void collapse_title(page_scan &page) {
    std::string collapsed;
    for (char c : page.title_text) {
        bool blank = strchr(" \t\r\n\f", c) != nullptr;
        if (!blank) collapsed += c;
        else if (!collapsed.empty() && collapsed.back() != ' ') collapsed += ' ';
    }
    if (!collapsed.empty() && collapsed.back() == ' ') collapsed.pop_back();
    page.title = caught_text(page.reader, std::move(collapsed));
    page.has_title = true;
}

void end_element(void *user, const xmlChar *name) {
    page_scan &page = *static_cast<page_scan *>(user);
    part_words(page, name);
    if (page.in_title && named(name, "title")) {
        page.in_title = 0;
        collapse_title(page);
    } else if (page.in_style && named(name, "style")) {
        page.in_style--;
        finish_css(page.style);
    } else if (page.in_script && named(name, "script")) {
        page.in_script--;
    }
}

void characters(void *user, const xmlChar *text, int length) {
    page_scan &page = *static_cast<page_scan *>(user);
    std::string_view chunk(as_text(text), static_cast<size_t>(length));
    if (page.in_title) {
        if (page.title_text.size() < longest_title) page.title_text.append(chunk.substr(0, longest_title));
        if (page.text) page.text(page.user, chunk, true);
    } else if (page.in_style) {
        scan_css(page.style, chunk);
    } else if (!page.in_script && page.text) {
        page.text(page.user, chunk, false);
    }
}

}  // namespace

void start_page_scan(page_scan &page) {
    htmlSAXHandler sax;
    memset(&sax, 0, sizeof sax);
    sax.startElement = start_element;
    sax.endElement = end_element;
    sax.characters = characters;
    sax.cdataBlock = characters;
    page.style.found = report_css;
    page.style.user = &page;
    start_markup(page.reader, &sax, &page);
}

void finish_page_scan(page_scan &page) {
    finish_markup(page.reader);
    // A title that the end of the file cut short still names the page.
    if (page.in_title) collapse_title(page);
}

bool scan_page_file(page_scan &page, int fd) {
    start_page_scan(page);
    bool read = push_markup_file(page.reader, fd);
    finish_page_scan(page);
    return read;
}

void scan_page_text(page_scan &page, std::string_view bytes) {
    start_page_scan(page);
    push_markup_text(page.reader, bytes);
    finish_page_scan(page);
}

std::string page_title(const page_scan &page, uint32_t code_page, bool &lost) {
    if (!page.has_title) return {};
    code_page_converter converter("UTF-8", code_page);
    return shown_text(page.reader, page.title, converter, lost);
}
