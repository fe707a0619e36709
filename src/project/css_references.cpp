#include "project/css_references.h"

#include <strings.h>

namespace {
enum state { normal, comment, skipped_string, url_start, url_bare, url_bare_end, url_quoted, url_close };

// A URL longer than this is inline data ("data:" fonts and images), not a file.
constexpr size_t longest_reference = 8192;

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }
bool is_word(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
           c == '@' || static_cast<unsigned char>(c) >= 0x80;
}
bool word_is(const std::string &word, const char *expected) { return strcasecmp(word.c_str(), expected) == 0; }

void keep(css_scanner &scanner, char c) {
    if (scanner.value.size() < longest_reference) scanner.value += c;
    else scanner.too_long = true;
}

void report(css_scanner &scanner) {
    if (!scanner.too_long && scanner.found) scanner.found(scanner.user, scanner.value, scanner.line);
    scanner.value.clear();
    scanner.too_long = false;
}

void in_normal(css_scanner &scanner, char c) {
    if (scanner.after_slash) {
        scanner.after_slash = false;
        if (c == '*') {
            scanner.state = comment;
            scanner.after_star = false;
            return;
        }
    }
    if (c == '"' || c == '\'') {
        scanner.quote = c;
        scanner.from_import = scanner.after_import;
        scanner.state = scanner.after_import ? url_quoted : skipped_string;
        scanner.after_import = false;
        scanner.word.clear();
        return;
    }
    if (c == '(' && word_is(scanner.word, "url")) {
        scanner.state = url_start;
        scanner.from_import = false;
        scanner.word.clear();
        return;
    }
    if (is_word(c)) {
        // Only "url" and "@import" matter: longer words need not be kept.
        if (scanner.word.size() < 8) scanner.word += c;
        return;
    }
    if (is_blank(c)) {
        if (word_is(scanner.word, "@import")) scanner.after_import = true;
    } else {
        scanner.after_import = false;
        scanner.after_slash = c == '/';
    }
    scanner.word.clear();
}

void step(css_scanner &scanner, char c) {
    switch (scanner.state) {
    case normal: in_normal(scanner, c); return;
    case comment:
        if (scanner.after_star && c == '/') scanner.state = normal;
        scanner.after_star = c == '*';
        return;
    case skipped_string:
        if (scanner.after_backslash) scanner.after_backslash = false;
        else if (c == '\\') scanner.after_backslash = true;
        else if (c == scanner.quote || c == '\n') scanner.state = normal;
        return;
    case url_start:
        if (is_blank(c)) return;
        if (c == '"' || c == '\'') {
            scanner.quote = c;
            scanner.state = url_quoted;
        } else if (c == ')') {
            scanner.state = normal;
        } else {
            scanner.state = url_bare;
            step(scanner, c);
        }
        return;
    case url_bare:
    case url_bare_end:
        if (scanner.after_backslash) {
            scanner.after_backslash = false;
            keep(scanner, c);
        } else if (c == ')') {
            report(scanner);
            scanner.state = normal;
        } else if (is_blank(c)) {
            scanner.state = url_bare_end;
        } else if (c == '\\') {
            scanner.after_backslash = true;
        } else if (scanner.state == url_bare) {
            keep(scanner, c);
        }
        return;
    case url_quoted:
        if (scanner.after_backslash) {
            scanner.after_backslash = false;
            if (c != '\n') keep(scanner, c);
        } else if (c == '\\') {
            scanner.after_backslash = true;
        } else if (c == scanner.quote || c == '\n') {
            if (c == scanner.quote) report(scanner);
            scanner.value.clear();
            scanner.state = scanner.from_import || c == '\n' ? normal : url_close;
        } else {
            keep(scanner, c);
        }
        return;
    case url_close:
        if (c == ')') scanner.state = normal;
        return;
    }
}
}  // namespace

void scan_css(css_scanner &scanner, std::string_view text) {
    for (char c : text) {
        step(scanner, c);
        if (c == '\n') scanner.line++;
    }
}

void finish_css(css_scanner &scanner) {
    css_reference_sink found = scanner.found;
    void *user = scanner.user;
    unsigned line = scanner.line;
    scanner = css_scanner();
    scanner.found = found;
    scanner.user = user;
    scanner.line = line;
}
