// The project file (.hhp): an INI text of sections, read line by line.
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "project/code_page.h"
#include "project/named_kinds.h"
#include "project/project_messages.h"
#include "project/project_paths.h"
#include "project/project_reading.h"
#include "project/read_project.h"

namespace {
// Larger than any project file; a larger file is something else.
constexpr off_t largest_text = 64 << 20;

enum class section { none, options, windows, files, alias, map, text_popups, merge_files, ignored, unknown };

const named_kind<section> sections[] = {
    {"OPTIONS", section::options},
    {"WINDOWS", section::windows},
    {"FILES", section::files},
    {"ALIAS", section::alias},
    {"MAP", section::map},
    {"TEXT POPUPS", section::text_popups},
    {"MERGE FILES", section::merge_files},
    {"INFOTYPES", section::ignored},
    {"SUBSETS", section::ignored},
};

void read_window_line(project_reading &reading, std::string_view text, unsigned line) {
    size_t equals = text.find('=');
    project_window window;
    std::string problem = "not a window definition (name=\"caption\",...)";
    if (equals != std::string_view::npos &&
        read_window(text.substr(0, equals), text.substr(equals + 1), window, problem)) {
        if (!problem.empty()) warn_at(reading.name, line, "Window %s: %s", window.name.c_str(), problem.c_str());
        reading.project->windows.push_back(std::move(window));
        reading.project->lines.windows.push_back(line);
        return;
    }
    warn_at(reading.name, line, "In [WINDOWS], %s (ignoring the line)", problem.c_str());
}

void read_line(project_reading &reading, section current, std::string_view text, unsigned line) {
    help_project &project = *reading.project;
    switch (current) {
    case section::options: {
        size_t equals = text.find('=');
        if (equals == std::string_view::npos) {
            warn_at(reading.name, line, "In [OPTIONS], a line without \"=\" (ignoring it)");
            return;
        }
        read_option(reading, trimmed(text.substr(0, equals)), trimmed(text.substr(equals + 1)), line);
        return;
    }
    case section::windows: read_window_line(reading, text, line); return;
    case section::files:
        project.files.push_back(project_path(text));
        project.lines.files.push_back(line);
        return;
    case section::text_popups:
        project.text_popups.push_back(project_path(text));
        project.lines.text_popups.push_back(line);
        return;
    case section::merge_files: project.merge_files.push_back(with_slashes(text)); return;
    case section::alias: read_alias_line(reading, text, reading.name, line); return;
    case section::map: read_map_line(reading, text, reading.name, line); return;
    case section::ignored:
        if (!reading.warned_infotypes)
            warn_at(reading.name, line,
                    "Information types and subsets ([INFOTYPES], [SUBSETS]) are not supported "
                    "(ignoring them)");
        reading.warned_infotypes = true;
        return;
    case section::none:
    case section::unknown: return;
    }
}

std::string_view without_bom(std::string_view text) {
    return text.substr(0, 3) == "\xEF\xBB\xBF" ? text.substr(3) : text;
}
}  // namespace

std::string project_path(std::string_view value, bool keep_fragment) {
    std::string_view path = value.substr(0, keep_fragment ? value.find('#') : value.size());
    resolved_reference resolved = resolve_project_path(path);
    if (resolved.kind != reference_kind::local) return with_slashes(trimmed(value));
    return resolved.path + std::string(value.substr(path.size()));
}

bool read_number(std::string_view text, uint32_t &value) {
    text = trimmed(text);
    bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    if (hex) text.remove_prefix(2);
    if (text.empty() || text.size() > (hex ? 8 : 10)) return false;
    uint64_t number = 0;
    for (char c : text) {
        int digit = c >= '0' && c <= '9'                            ? c - '0'
                    : hex && (c | 0x20) >= 'a' && (c | 0x20) <= 'f' ? (c | 0x20) - 'a' + 10
                                                                    : -1;
        if (digit < 0) return false;
        number = number * (hex ? 16 : 10) + static_cast<unsigned>(digit);
    }
    if (number > UINT32_MAX) return false;
    value = static_cast<uint32_t>(number);
    return true;
}

bool read_small_file(const std::string &path, std::string &bytes) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat status;
    bool ok = fstat(fd, &status) == 0;
    if (ok && (!S_ISREG(status.st_mode) || status.st_size > largest_text)) {
        errno = S_ISREG(status.st_mode) ? EFBIG : EINVAL;
        ok = false;
    }
    bytes.clear();
    char buffer[65536];
    ssize_t got;
    while (ok && (got = read(fd, buffer, sizeof buffer)) != 0) {
        if (got < 0 && errno == EINTR) continue;
        if (got < 0 || bytes.size() > static_cast<size_t>(largest_text)) ok = false;
        else bytes.append(buffer, static_cast<size_t>(got));
    }
    int saved = errno;
    close(fd);
    errno = saved;
    return ok;
}

outcome parse_project_text(std::string_view text, const std::string &name, const std::string &directory,
                           help_project &project) {
    project = help_project();
    project.directory = directory;
    size_t slash = name.rfind('/');
    project.project_name = slash == std::string::npos ? name : name.substr(slash + 1);

    size_t nul = text.find('\0');
    if (nul != std::string_view::npos) {
        unsigned line =
            1 + static_cast<unsigned>(std::count(text.begin(), text.begin() + static_cast<long>(nul), '\n'));
        return {false, error_at(name, line, "The project file holds NUL bytes: it is not a text file")};
    }
    text = without_bom(text);
    if (trimmed(text).empty()) return {false, error_at(name, 0, "The project file is empty")};

    project_reading reading;
    reading.project = &project;
    reading.name = name;
    section current = section::none;
    bool any_section = false;
    unsigned stray_line = 0;
    for_each_line(text, [&](std::string_view line, unsigned number) {
        std::string_view content = trimmed(line);
        if (content.empty() || content[0] == ';') return;
        if (content.front() == '[' && content.back() == ']') {
            std::string_view title = trimmed(content.substr(1, content.size() - 2));
            current = kind_named(sections, title, section::unknown);
            any_section = true;
            if (current == section::unknown)
                warn_at(name, number, "Unknown section [%.*s] (ignoring it)", static_cast<int>(title.size()),
                        title.data());
            return;
        }
        if (current == section::none && !stray_line) stray_line = number;
        read_line(reading, current, content, number);
    });
    if (!any_section)
        return {false, error_at(name, 0, "No section ([OPTIONS], [FILES], ...): this is not a help project file")};
    if (stray_line) warn_at(name, stray_line, "Lines before the first section (ignoring them)");

    join_context_ids(reading);
    finish_options(reading, is_valid_utf8(text) && !is_ascii(text));
    return {};
}

outcome read_project_file(const std::string &path, help_project &project, compile_report &) {
    std::string bytes;
    size_t slash = path.rfind('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (!read_small_file(path, bytes))
        return {false, error_at(name, 0, "Cannot read the project file: %s", strerror(errno))};
    std::string directory = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    return parse_project_text(bytes, name, directory, project);
}
