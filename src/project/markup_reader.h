// HTML and sitemaps through libxml2's HTML parser in SAX mode: pushed in
// pieces, so that memory stays bounded whatever the file's size, and
// tolerant of whatever markup authors write.
#pragma once
#include <libxml/HTMLparser.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "project/code_page.h"

// Pieces pushed to the parser at a time.
constexpr size_t markup_piece = 64 << 10;

struct markup_reader {
    markup_reader() = default;
    ~markup_reader();
    markup_reader(const markup_reader &) = delete;
    markup_reader &operator=(const markup_reader &) = delete;

    htmlParserCtxtPtr context = nullptr;
    uint64_t size = 0;      // bytes pushed
    unsigned lines = 1;     // lines pushed
    unsigned nul_line = 0;  // the line of the first NUL byte, 0 without one

    // Whether the bytes are still UTF-8, where the last sequence stands.
    bool utf8 = true;
    uint8_t continuations = 0;          // bytes due in the current sequence
    uint8_t least = 0x80, most = 0xBF;  // the range of the next one
};

// Starts a parse that calls sax's callbacks with user; name is for libxml2.
void start_markup(markup_reader &reader, htmlSAXHandler *sax, void *user);
void push_markup(markup_reader &reader, const char *bytes, size_t size);
// Pushes bytes in memory piece by piece, as from a file.
void push_markup_text(markup_reader &reader, std::string_view bytes);
// Pushes the file's bytes piece by piece; false when reading fails (errno set).
bool push_markup_file(markup_reader &reader, int fd);
// Ends the parse (what is still open gets its end callbacks) and frees it.
void finish_markup(markup_reader &reader);

// The line the parser has reached, for messages.
unsigned markup_line(const markup_reader &reader);

// The bytes the file wrote for text that the parser hands over in UTF-8:
// names of files must be matched as written.
std::string source_bytes(const markup_reader &reader, std::string_view text);

// Text meant for a viewer, caught where the parser had reached.
struct markup_text {
    std::string text;             // UTF-8, as the parser gave it
    bool read_as_latin1 = false;  // after libxml2 met a byte that is not UTF-8 and fell back to ISO-8859-1
};
markup_text caught_text(const markup_reader &reader, std::string text);

// The text in the language's code page, once the whole file is read: from
// the characters the parser decoded when the file declared its character
// set or was UTF-8 throughout; else from the bytes as written, which are
// then taken to be in the code page already. `to_code_page` converts from
// UTF-8; a character the code page lacks becomes "?" and sets lost.
std::string shown_text(const markup_reader &reader, const markup_text &caught, code_page_converter &to_code_page,
                       bool &lost);
