// The project file's reader, shared by the files that read its sections.
#pragma once
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "project/help_project.h"

// A [MAP] name with its number, or an [ALIAS] name with its file, and
// where it was found.
struct context_name {
    std::string name;
    uint32_t id = 0;
    std::string file;
    std::string source;  // the project file or an included file
    unsigned line = 0;
};

// What the reader holds until the whole project file is read.
struct project_reading {
    help_project *project = nullptr;
    std::string name;  // the project file, for messages
    std::vector<context_name> aliases;
    std::vector<context_name> map;
    std::unordered_map<std::string, size_t> alias_index, map_index;  // name -> its place above
    unsigned binary_toc_line = 0;
    unsigned binary_index_line = 0;
    unsigned compiled_file_line = 0;
    unsigned language_line = 0;
    std::string compiled_file;  // as the project gives it
    std::string language;
    bool warned_infotypes = false;
    std::set<std::string> included;  // each included file is read once, like a guarded header
    int include_depth = 0;
};

// One "key=value" line of [OPTIONS].
void read_option(project_reading &reading, std::string_view key, std::string_view value, unsigned line);
// Settles what depends on more than one option: the output's name, the
// language, the default topic and window; converts the shown strings into
// the language's code page when the file is UTF-8.
void finish_options(project_reading &reading, bool utf8_text);

// One line of [WINDOWS]; false with a problem to report when it is not a
// window definition.
bool read_window(std::string_view key, std::string_view value, project_window &window, std::string &problem);

// A line of [ALIAS] or [MAP] (either may "#include" a file), from the
// project file or from a file it includes.
void read_alias_line(project_reading &reading, std::string_view text, const std::string &source, unsigned line);
void read_map_line(project_reading &reading, std::string_view text, const std::string &source, unsigned line);
// Joins both sides on the name into the project's context IDs.
void join_context_ids(project_reading &reading);

// A path the project names, with "/" separators and no "." steps when it
// lies below the project's directory (with keep_fragment, "#..." kept
// after it); as given (with "/") otherwise, for the collector to report.
std::string project_path(std::string_view value, bool keep_fragment = false);

// A number written in decimal or with "0x" in hex, whole.
bool read_number(std::string_view text, uint32_t &value);

// The whole of a small file, or false with errno set.
bool read_small_file(const std::string &path, std::string &bytes);

// Calls each(line, number) for every line, without its line ending.
template <typename each_line>
void for_each_line(std::string_view text, each_line each) {
    unsigned number = 0;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        each(line, ++number);
        start = end + 1;
    }
}
