#include "project/markup_reader.h"

#include <libxml/parserInternals.h>

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {
xmlCharEncodingHandlerPtr encoder_of(const markup_reader &reader) {
    htmlParserCtxtPtr context = reader.context;
    return context && context->input && context->input->buf ? context->input->buf->encoder : nullptr;
}

bool declared(const markup_reader &reader) {
    return reader.context && reader.context->input && reader.context->input->encoding;
}

// Calls each(code point, its UTF-8 bytes) for text that is valid UTF-8.
template <typename each_character>
void for_each_character(std::string_view text, each_character each) {
    for (size_t i = 0; i < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        size_t length = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        length = std::min(length, text.size() - i);
        uint32_t value = length == 1 ? c : c & (0x7F >> length);
        for (size_t k = 1; k < length; k++) value = value << 6 | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        each(value, text.substr(i, length));
        i += length;
    }
}
// Where the bytes stop being UTF-8 (overlong forms, surrogates and values
// past Unicode's end included), or size; a sequence may span calls.
size_t first_non_utf8(markup_reader &reader, const char *bytes, size_t size) {
    const auto *at = reinterpret_cast<const unsigned char *>(bytes);
    for (size_t i = 0; i < size; i++) {
        // Mostly ASCII: eight bytes at a time while no sequence is open.
        while (!reader.continuations && size - i >= 8) {
            uint64_t word;
            memcpy(&word, at + i, 8);
            if (word & 0x8080808080808080u) break;
            i += 8;
        }
        if (i == size) break;
        unsigned char c = at[i];
        if (reader.continuations) {
            if (c < reader.least || c > reader.most) return i;
            reader.continuations--;
            reader.least = 0x80, reader.most = 0xBF;
            continue;
        }
        if (c < 0x80) continue;
        if (c >= 0xC2 && c <= 0xDF) reader.continuations = 1;
        else if (c >= 0xE0 && c <= 0xEF) reader.continuations = 2;
        else if (c >= 0xF0 && c <= 0xF4) reader.continuations = 3;
        else return i;
        if (c == 0xE0) reader.least = 0xA0;
        else if (c == 0xED) reader.most = 0x9F;
        else if (c == 0xF0) reader.least = 0x90;
        else if (c == 0xF4) reader.most = 0x8F;
    }
    return size;
}
}  // namespace

markup_reader::~markup_reader() {
    if (context) htmlFreeParserCtxt(context);
}

void start_markup(markup_reader &reader, htmlSAXHandler *sax, void *user) {
    // UTF-8 until a <meta> declares otherwise; libxml2 falls back to
    // ISO-8859-1 on the first byte that is not UTF-8.
    reader.context = htmlCreatePushParserCtxt(sax, user, nullptr, 0, nullptr, XML_CHAR_ENCODING_UTF8);
    if (reader.context)
        htmlCtxtUseOptions(reader.context, HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NONET);
}

void push_markup(markup_reader &reader, const char *bytes, size_t size) {
    if (!reader.nul_line) {
        const char *nul = static_cast<const char *>(memchr(bytes, 0, size));
        if (nul) reader.nul_line = reader.lines + static_cast<unsigned>(std::count(bytes, nul, '\n'));
    }
    reader.lines += static_cast<unsigned>(std::count(bytes, bytes + size, '\n'));
    reader.size += size;
    if (!reader.context || !size) return;
    if (reader.utf8 && !declared(reader)) {
        // libxml2 falls back to ISO-8859-1 by itself too, but garbles the
        // character where it does: switch just before it instead.
        size_t bad = first_non_utf8(reader, bytes, size);
        if (bad < size) {
            if (bad) htmlParseChunk(reader.context, bytes, static_cast<int>(bad), 0);
            if (!encoder_of(reader) && !declared(reader)) xmlSwitchEncoding(reader.context, XML_CHAR_ENCODING_8859_1);
            reader.utf8 = false;
            bytes += bad;
            size -= bad;
        }
    }
    htmlParseChunk(reader.context, bytes, static_cast<int>(size), 0);
}

void push_markup_text(markup_reader &reader, std::string_view bytes) {
    for (size_t at = 0; at < bytes.size(); at += markup_piece)
        push_markup(reader, bytes.data() + at, std::min(markup_piece, bytes.size() - at));
}

bool push_markup_file(markup_reader &reader, int fd) {
    char piece[markup_piece];
    while (true) {
        ssize_t got = read(fd, piece, sizeof piece);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return false;
        if (got == 0) return true;
        push_markup(reader, piece, static_cast<size_t>(got));
    }
}

void finish_markup(markup_reader &reader) {
    if (!reader.context) return;
    htmlParseChunk(reader.context, nullptr, 0, 1);
}

unsigned markup_line(const markup_reader &reader) {
    return reader.context && reader.context->input ? static_cast<unsigned>(reader.context->input->line) : 0;
}

std::string source_bytes(const markup_reader &reader, std::string_view text) {
    xmlCharEncodingHandlerPtr encoder = encoder_of(reader);
    if (!encoder || is_ascii(text)) return std::string(text);
    std::string bytes;
    if (strcmp(encoder->name, "ISO-8859-1") == 0) {
        bool whole = true;
        for_each_character(text, [&](uint32_t c, std::string_view) {
            whole = whole && c <= 0xFF;
            bytes += static_cast<char>(c);
        });
        if (whole) return bytes;
    }
    code_page_converter back("UTF-8", encoder->name);
    bool lost = false;
    bytes = back.convert(text, lost);
    return lost ? std::string(text) : bytes;
}

markup_text caught_text(const markup_reader &reader, std::string text) {
    xmlCharEncodingHandlerPtr encoder = encoder_of(reader);
    return {std::move(text), encoder && !declared(reader) && strcmp(encoder->name, "ISO-8859-1") == 0};
}

std::string shown_text(const markup_reader &reader, const markup_text &caught, code_page_converter &to_code_page,
                       bool &lost) {
    if (declared(reader) || !encoder_of(reader)) return to_code_page.convert(caught.text, lost);
    if (!caught.read_as_latin1) return caught.text;
    // ISO-8859-1 gave each byte its own character; an entity may have
    // given a larger one, which is converted.
    std::string shown;
    for_each_character(caught.text, [&](uint32_t c, std::string_view bytes) {
        if (c <= 0xFF) shown += static_cast<char>(c);
        else shown += to_code_page.convert(bytes, lost);
    });
    return shown;
}
