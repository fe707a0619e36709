#include "project/project_paths.h"

#include <strings.h>

#include <vector>

namespace {
bool is_alpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

// "http:", "mailto:", "ms-its:", "javascript:"... A single letter is a
// Windows drive instead.
bool has_scheme(std::string_view text) {
    if (text.empty() || !is_alpha(text[0])) return false;
    size_t i = 1;
    while (i < text.size() &&
           (is_alpha(text[i]) || is_digit(text[i]) || text[i] == '+' || text[i] == '-' || text[i] == '.'))
        i++;
    return i >= 2 && i < text.size() && text[i] == ':';
}

bool has_drive(std::string_view text) { return text.size() >= 2 && is_alpha(text[0]) && text[1] == ':'; }

int hex_value(char c) {
    if (is_digit(c)) return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string percent_decoded(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); i++) {
        int high, low;
        if (text[i] == '%' && i + 2 < text.size() && (high = hex_value(text[i + 1])) >= 0 &&
            (low = hex_value(text[i + 2])) >= 0) {
            out += static_cast<char>(high << 4 | low);
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

// Joins path onto base step by step; false when a ".." climbs above the top.
bool normalized(std::string_view base, std::string_view path, std::string &out) {
    std::vector<std::string_view> steps;
    auto add = [&steps](std::string_view text) {
        size_t start = 0;
        while (start <= text.size()) {
            size_t end = text.find('/', start);
            if (end == std::string_view::npos) end = text.size();
            std::string_view step = text.substr(start, end - start);
            if (step == "..") {
                if (steps.empty()) return false;
                steps.pop_back();
            } else if (!step.empty() && step != ".") {
                steps.push_back(step);
            }
            start = end + 1;
        }
        return true;
    };
    if (!add(base) || !add(path)) return false;
    out.clear();
    for (std::string_view step : steps) {
        if (!out.empty()) out += '/';
        out += step;
    }
    return true;
}

resolved_reference resolve_path(std::string_view base, const std::string &path) {
    resolved_reference result;
    if (path.empty()) return result;
    if (path[0] == '/' || has_drive(path)) {
        result.kind = reference_kind::outside;
        result.path = path;
        return result;
    }
    if (!normalized(base, path, result.path)) {
        result.kind = reference_kind::outside;
        result.path = path;
        return result;
    }
    result.kind = result.path.empty() ? reference_kind::none : reference_kind::local;
    return result;
}
}  // namespace

std::string_view trimmed(std::string_view text) {
    const char *blanks = " \t\r\n\f\v";
    size_t start = text.find_first_not_of(blanks);
    if (start == std::string_view::npos) return {};
    size_t end = text.find_last_not_of(blanks);
    return text.substr(start, end - start + 1);
}

std::string with_slashes(std::string_view path) {
    std::string out(path);
    for (char &c : out) {
        if (c == '\\') c = '/';
    }
    return out;
}

resolved_reference resolve_reference(std::string_view reference, std::string_view base) {
    std::string_view text = trimmed(reference);
    if (text.substr(0, 2) == "//" || text.substr(0, 2) == "\\\\" || has_scheme(text) ||
        text.find("::") != std::string_view::npos)
        return {reference_kind::external, std::string(text)};
    text = text.substr(0, text.find_first_of("?#"));
    std::string path = percent_decoded(with_slashes(text));
    // Inside a compiled file "/x" is the file x at its top, which is the
    // project's directory.
    size_t slashes = path.find_first_not_of('/');
    if (slashes != 0 && slashes != std::string::npos) return resolve_path({}, path.substr(slashes));
    return resolve_path(base, path);
}

resolved_reference resolve_project_path(std::string_view path, bool cut_fragment) {
    std::string_view text = trimmed(path);
    if (cut_fragment) text = text.substr(0, text.find('#'));
    return resolve_path({}, with_slashes(text));
}

std::string_view directory_of(std::string_view path) {
    size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? std::string_view() : path.substr(0, slash);
}

std::string joined_path(const std::string &directory, std::string_view relative) {
    if (directory.empty() || directory == ".") return std::string(relative);
    if (directory.back() == '/') return directory + std::string(relative);
    return directory + "/" + std::string(relative);
}

namespace {
bool ends_with_case(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() &&
           strncasecmp(text.data() + text.size() - suffix.size(), suffix.data(), suffix.size()) == 0;
}
}  // namespace

bool is_html_name(std::string_view path) {
    return ends_with_case(path, ".htm") || ends_with_case(path, ".html") || ends_with_case(path, ".xhtml");
}

bool is_css_name(std::string_view path) { return ends_with_case(path, ".css"); }
