// One pass over a page: its title and every reference to another file
// (attributes, inline style), and, for whoever wants it, its text.
#pragma once
#include <string>
#include <string_view>

#include "project/css_references.h"
#include "project/markup_reader.h"

// A reference as the page wrote it (the bytes of the file, entities
// decoded), and the line it is on.
using reference_sink = void (*)(void *user, std::string_view reference, unsigned line);
// Text of the page outside <script> and <style>, in UTF-8, for a
// full-text index: the title's with in_title, a " " where an element that
// is not inline (a paragraph, a cell, a line break) parts words.
using text_sink = void (*)(void *user, std::string_view text, bool in_title);

struct page_scan {
    reference_sink reference = nullptr;
    text_sink text = nullptr;
    void *user = nullptr;

    // Results.
    bool has_title = false;
    markup_text title;  // whitespace collapsed
    unsigned title_line = 0;

    // Where the scan stands.
    markup_reader reader;
    css_scanner style;
    int in_title = 0;
    int in_style = 0;
    int in_script = 0;
    std::string title_text;
};

// Scans the page from fd; false when it could not be read (errno set).
// page.reader tells its size, lines and NUL bytes afterwards.
bool scan_page_file(page_scan &page, int fd);
void scan_page_text(page_scan &page, std::string_view bytes);
// The same in pieces, as the bytes come: start, push_markup(page.reader,
// ...) for each piece, finish.
void start_page_scan(page_scan &page);
void finish_page_scan(page_scan &page);

// The title in the language's code page (after the scan); lost is set
// when the code page lacks one of its characters.
std::string page_title(const page_scan &page, uint32_t code_page, bool &lost);
