// Context-sensitive help: [MAP] gives names numbers ("#define IDH_X 100",
// often from a C header that the program includes too), [ALIAS] gives them
// files ("IDH_X=page.htm"); joined on the name they make the context IDs.
#include <strings.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <unordered_map>

#include "project/project_messages.h"
#include "project/project_paths.h"
#include "project/project_reading.h"

namespace {
// Includes nested deeper than this are taken for a loop.
constexpr int deepest_include = 32;

// Whether text starts with the word (any case), and what follows it.
bool starts_with_word(std::string_view text, std::string_view word, std::string_view &rest) {
    if (text.size() < word.size() || strncasecmp(text.data(), word.data(), word.size()) != 0) return false;
    rest = text.substr(word.size());
    if (!rest.empty() && rest[0] != ' ' && rest[0] != '\t' && rest[0] != '"' && rest[0] != '<') return false;
    rest = trimmed(rest);
    return true;
}

// "#include file", "#include "file"" or "#include <file>": the file.
std::string included_name(std::string_view rest) {
    if (rest.size() >= 2 &&
        ((rest.front() == '"' && rest.back() == '"') || (rest.front() == '<' && rest.back() == '>')))
        rest = rest.substr(1, rest.size() - 2);
    return with_slashes(trimmed(rest));
}

// A #define's value: a number, perhaps in parentheses or with a C suffix.
bool define_value(std::string_view text, uint32_t &value) {
    text = trimmed(text.substr(0, text.find("//")));
    text = trimmed(text.substr(0, text.find("/*")));
    while (text.size() >= 2 && text.front() == '(' && text.back() == ')')
        text = trimmed(text.substr(1, text.size() - 2));
    while (!text.empty() && strchr("uUlL", text.back())) text.remove_suffix(1);
    return read_number(text, value);
}

using line_reader = void (*)(project_reading &, std::string_view, const std::string &, unsigned);

// Reads an included file line by line with the reader of its section.
void include_file(project_reading &reading, std::string_view rest, const std::string &source, unsigned line,
                  line_reader each) {
    std::string name = included_name(rest);
    if (name.empty()) {
        warn_at(source, line, "#include without a file name (ignoring it)");
        return;
    }
    std::string path = name[0] == '/' ? name : joined_path(reading.project->directory, name);
    if (!reading.included.insert(path).second) return;
    if (reading.include_depth >= deepest_include) {
        warn_at(source, line, "Includes nested more than %d deep (ignoring %s)", deepest_include, name.c_str());
        return;
    }
    std::string bytes;
    if (!read_small_file(path, bytes)) {
        warn_at(source, line, "Cannot read %s: %s (ignoring it)", name.c_str(), strerror(errno));
        return;
    }
    reading.project->included_files.push_back(path);
    if (bytes.find('\0') != std::string::npos) {
        warn_at(name, 0, "The file holds NUL bytes: it is not a text file (ignoring it)");
        return;
    }
    reading.include_depth++;
    for_each_line(bytes, [&](std::string_view text, unsigned number) { each(reading, trimmed(text), name, number); });
    reading.include_depth--;
}

bool in_project_file(const project_reading &reading, const std::string &source) { return source == reading.name; }

// Adds a name once; a second definition is reported and left out.
void add_name(std::vector<context_name> &names, std::unordered_map<std::string, size_t> &index, context_name entry,
              const char *section) {
    auto known = index.find(entry.name);
    if (known == index.end()) {
        index.emplace(entry.name, names.size());
        names.push_back(std::move(entry));
        return;
    }
    const context_name &first = names[known->second];
    if (first.id != entry.id || first.file != entry.file)
        warn_at(entry.source, entry.line, "%s defines %s again (keeping the first, from %s:%u)", section,
                entry.name.c_str(), first.source.c_str(), first.line);
}

// One warning per file for the names that only one side gives.
void warn_unmatched(const std::vector<const context_name *> &unmatched, const char *what) {
    std::map<std::string, std::vector<const context_name *>> by_source;
    for (const context_name *name : unmatched) by_source[name->source].push_back(name);
    for (const auto &[source, names] : by_source) {
        std::vector<std::string> shown;
        for (const context_name *name : names) shown.push_back(name->name);
        warn_at(source, names[0]->line, "%s (left out): %s", what, listed(shown.data(), shown.size()).c_str());
    }
}
}  // namespace

void read_alias_line(project_reading &reading, std::string_view text, const std::string &source, unsigned line) {
    std::string_view rest;
    if (text.empty() || text[0] == ';' || text.substr(0, 2) == "//") return;
    if (starts_with_word(text, "#include", rest)) {
        include_file(reading, rest, source, line, read_alias_line);
        return;
    }
    size_t equals = text.find('=');
    std::string_view name = trimmed(text.substr(0, equals));
    if (equals == std::string_view::npos || name.empty()) {
        warn_at(source, line, "An alias line that is not NAME=file (ignoring it)");
        return;
    }
    context_name entry{std::string(name), 0, project_path(trimmed(text.substr(equals + 1)), true), source, line};
    add_name(reading.aliases, reading.alias_index, std::move(entry), "[ALIAS]");
}

void read_map_line(project_reading &reading, std::string_view text, const std::string &source, unsigned line) {
    std::string_view rest;
    if (starts_with_word(text, "#include", rest)) {
        include_file(reading, rest, source, line, read_map_line);
        return;
    }
    // Headers hold other C too; only the project file's own lines must be
    // #defines of numbers.
    bool own = in_project_file(reading, source);
    if (!starts_with_word(text, "#define", rest)) {
        if (own && !text.empty() && text[0] != ';')
            warn_at(source, line, "In [MAP], a line that is neither #define nor #include (ignoring it)");
        return;
    }
    size_t blank = rest.find_first_of(" \t");
    uint32_t value = 0;
    if (blank == std::string_view::npos || !define_value(rest.substr(blank), value)) {
        if (own) warn_at(source, line, "A #define without a number (ignoring it)");
        return;
    }
    add_name(reading.map, reading.map_index, {std::string(rest.substr(0, blank)), value, {}, source, line}, "[MAP]");
}

void join_context_ids(project_reading &reading) {
    std::vector<bool> used(reading.map.size());
    std::vector<const context_name *> without_number, without_file;
    for (const context_name &alias : reading.aliases) {
        auto number = reading.map_index.find(alias.name);
        if (number == reading.map_index.end()) {
            without_number.push_back(&alias);
            continue;
        }
        reading.project->context_ids.push_back({reading.map[number->second].id, alias.file});
        used[number->second] = true;
    }
    for (size_t i = 0; i < reading.map.size(); i++) {
        if (!used[i]) without_file.push_back(&reading.map[i]);
    }
    warn_unmatched(without_number, "[ALIAS] names without a number in [MAP]");
    warn_unmatched(without_file, "[MAP] names without a file in [ALIAS]");
}
