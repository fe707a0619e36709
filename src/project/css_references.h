// The files a style sheet refers to: url(...) and @import, in .css files,
// <style> elements and style attributes. Read as a stream, a piece at a
// time, so that a reference may span pieces.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>

using css_reference_sink = void (*)(void *user, std::string_view reference, unsigned line);

struct css_scanner {
    css_reference_sink found = nullptr;
    void *user = nullptr;
    unsigned line = 1;

    // Where the scan stands.
    int state = 0;
    char quote = 0;
    bool after_slash = false;
    bool after_star = false;
    bool after_backslash = false;
    bool after_import = false;  // "@import" and blanks: a string now names a file
    bool from_import = false;   // the value being read follows @import, not url(
    bool too_long = false;
    std::string word;   // the identifier being read, up to a few bytes
    std::string value;  // the reference being read
};

void scan_css(css_scanner &scanner, std::string_view text);
// Ends a scan and readies the scanner for the next text, keeping where it reports.
void finish_css(css_scanner &scanner);
