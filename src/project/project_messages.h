// The reader's messages: each names the file at fault, as the project
// names it, and the line when there is one.
#pragma once
#include <string>

// Prints a warning, WARNING: FILE:LINE: text (no ":LINE" when line is 0).
__attribute__((format(printf, 3, 4))) void warn_at(const std::string &file, unsigned line, const char *format, ...);

// Prints NOTE: FILE:LINE: text, for what the author may want to know but
// costs the output nothing.
__attribute__((format(printf, 3, 4))) void note_at(const std::string &file, unsigned line, const char *format, ...);

// "FILE:LINE: text", the message of an outcome that ends the run.
__attribute__((format(printf, 3, 4))) std::string error_at(const std::string &file, unsigned line, const char *format,
                                                           ...);

// Up to `shown` items joined by ", ", then "and N more".
std::string listed(const std::string *items, size_t count, size_t shown = 5);
