#include "project/project_messages.h"

#include <cstdarg>
#include <cstdio>

#include "run/terminal_output.h"

namespace {
std::string formatted(const char *format, va_list args) {
    va_list again;
    va_copy(again, args);
    int length = vsnprintf(nullptr, 0, format, again);
    va_end(again);
    std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
    if (length > 0) vsnprintf(text.data(), text.size() + 1, format, args);
    return text;
}

// "FILE:LINE: text" (appended piece by piece: g++ 12 warns falsely about
// operator+ on temporaries, GCC bug 105651).
std::string located(const char *file, unsigned line, const char *text) {
    std::string where = file;
    if (line) where.append(":").append(std::to_string(line));
    return where.append(": ").append(text);
}

void print_at(const char *kind, const std::string &file, unsigned line, const char *format, va_list args) {
    std::string text = formatted(format, args);
    // The text quotes names from the input too: one pass shows them all.
    std::string shown_file = shown_name(file.c_str());
    printf("%s: %s\n", kind, located(shown_file.c_str(), line, shown_name(text.c_str())).c_str());
}
}  // namespace

void warn_at(const std::string &file, unsigned line, const char *format, ...) {
    va_list args;
    va_start(args, format);
    print_at("WARNING", file, line, format, args);
    va_end(args);
}

void note_at(const std::string &file, unsigned line, const char *format, ...) {
    va_list args;
    va_start(args, format);
    print_at("NOTE", file, line, format, args);
    va_end(args);
}

std::string error_at(const std::string &file, unsigned line, const char *format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = formatted(format, args);
    va_end(args);
    return located(file.c_str(), line, text.c_str());
}

std::string listed(const std::string *items, size_t count, size_t shown) {
    std::string text;
    for (size_t i = 0; i < count && i < shown; i++) text += (i ? ", " : "") + items[i];
    if (count > shown) text += " and " + std::to_string(count - shown) + " more";
    return text;
}
