// The files to store: what the project names, what its sitemaps point at,
// and whatever its pages and style sheets lead to, transitively.
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <unordered_map>
#include <unordered_set>

#include "project/css_references.h"
#include "project/file_lookup.h"
#include "project/page_scan.h"
#include "project/project_messages.h"
#include "project/read_project.h"
#include "project/sitemap.h"
#include "run/terminal_output.h"

namespace {
// The ITSF directory's limit on a name, with its leading "/".
constexpr size_t longest_name = 255;

// What became of a path.
constexpr long missing = -1, outside = -2, left_out = -3;

// The references of one file that led nowhere, reported together.
struct referrer {
    std::string name;
    std::string base;  // its directory below the project's
    std::vector<std::string> missing, outside;
    unsigned missing_line = 0, outside_line = 0;
    std::unordered_set<std::string> reported;
};

struct collector {
    const help_project &project;
    const file_identity &output;
    compile_report &report;
    project_contents &contents;
    project_root root;
    std::unordered_map<std::string, long> known;           // path -> index in contents.files, or what became of it
    std::vector<file_identity> never_stored;               // the project file and the files it includes
    std::string unfinished_prefix;                         // ".NAME.chm." of the output's temporary files
    std::vector<std::string> titles;                       // by index in contents.files
    std::unordered_map<std::string, std::string> failure;  // path -> why it could not be stored
};

file_identity identity_of(const struct stat &status) {
    return {true, static_cast<uint64_t>(status.st_dev), static_cast<uint64_t>(status.st_ino)};
}

bool same(const file_identity &a, const file_identity &b) {
    return a.exists && b.exists && a.device == b.device && a.inode == b.inode;
}

bool is_unfinished_output(const collector &state, const std::string &path) {
    std::string_view base(path);
    base.remove_prefix(base.rfind('/') == std::string_view::npos ? 0 : base.rfind('/') + 1);
    return base.size() == state.unfinished_prefix.size() + 6 &&
           base.substr(0, state.unfinished_prefix.size()) == state.unfinished_prefix;
}

long remember(collector &state, const std::string &path, long result, const std::string &why = {}) {
    state.known[path] = result;
    if (!why.empty()) state.failure[path] = why;
    return result;
}

// Adds the file at path (below the project's directory) once; returns its
// index in contents.files, or missing, outside or left_out.
long add_file(collector &state, const std::string &path, std::string *found_as = nullptr) {
    auto known = state.known.find(path);
    if (known != state.known.end()) return known->second;
    if (path.size() + 1 > longest_name) {
        printf(
            "WARNING: The ITSF format does not support files with internal names longer than 255 characters "
            "(ignoring /%s)\n",
            shown_name(path.c_str()));
        return remember(state, path, left_out);
    }
    std::string full = joined_path(state.root.path, path);
    struct stat status;
    if (stat(full.c_str(), &status) != 0) {
        std::string why = strerror(errno);
        std::string other = errno == ENOENT ? case_insensitive_match(state.root, path) : std::string();
        if (other.empty() || other == path) return remember(state, path, missing, why);
        long index = add_file(state, other);
        if (found_as) *found_as = other;
        return remember(state, path, index);
    }
    if (!S_ISREG(status.st_mode))
        return remember(state, path, missing, S_ISDIR(status.st_mode) ? "a directory" : "not a regular file");
    if (!state.root.real_path.empty() && !stays_inside(state.root, path)) return remember(state, path, outside);
    file_identity identity = identity_of(status);
    if (same(identity, state.output)) {
        std::string name = "/" + path;
        printf("WARNING: The input holds the output file as %s (ignoring)\n", shown_name(name.c_str()));
        return remember(state, path, left_out);
    }
    for (const file_identity &never : state.never_stored) {
        if (same(identity, never)) return remember(state, path, left_out);
    }
    if (is_unfinished_output(state, path)) return remember(state, path, left_out);
    if (access(full.c_str(), R_OK) != 0) return remember(state, path, missing, strerror(errno));

    state.contents.files.push_back({path, is_html_name(path), static_cast<uint64_t>(status.st_size)});
    state.titles.emplace_back();
    return remember(state, path, static_cast<long>(state.contents.files.size() - 1));
}

// A file the project itself names: when it cannot be stored, the run
// ends with status 1.
long add_named(collector &state, const std::string &value, unsigned line, const char *what, bool cut_fragment = false) {
    resolved_reference path = resolve_project_path(value, cut_fragment);
    const std::string &name = state.project.project_name;
    if (path.kind == reference_kind::none) return left_out;
    if (path.kind != reference_kind::outside) {
        std::string found;
        long index = add_file(state, path.path, &found);
        if (!found.empty())
            warn_at(name, line, "%s (%s) is %s in another case (storing %s)", value.c_str(), what, found.c_str(),
                    found.c_str());
        if (index >= 0 || index == left_out) return index;
        if (index == missing) {
            warn_at(name, line, "Cannot read %s (%s): %s", value.c_str(), what, state.failure[path.path].c_str());
            state.report.missing++;
            return index;
        }
    }
    warn_at(name, line, "%s (%s) lies outside the project directory (not stored)", value.c_str(), what);
    state.report.missing++;
    return outside;
}

void note_case(const referrer &from, const std::string &value, const std::string &found, unsigned line) {
    warn_at(from.name, line, "%s names %s in another case (storing %s: viewers look names up regardless of case)",
            value.c_str(), found.c_str(), found.c_str());
}

// A reference from a page, style sheet, sitemap or the project file.
long follow(collector &state, referrer &from, std::string_view value, const resolved_reference &path, unsigned line) {
    if (path.kind == reference_kind::none || path.kind == reference_kind::external) return left_out;
    // Compiled files merged at view time are found beside this one, not in it.
    for (const std::string &merged : state.project.merge_files) {
        if (strcasecmp(merged.c_str(), path.path.c_str()) == 0) return left_out;
    }
    long index = outside;
    if (path.kind == reference_kind::local) {
        std::string found;
        index = add_file(state, path.path, &found);
        if (!found.empty()) note_case(from, std::string(value), found, line);
    }
    if (index >= 0 || index == left_out) return index;
    // Missing files by the name looked up, whatever fragments led there.
    std::string shown = index == missing ? path.path : std::string(value);
    if (!from.reported.insert(shown).second) return index;
    std::vector<std::string> &list = index == missing ? from.missing : from.outside;
    unsigned &first = index == missing ? from.missing_line : from.outside_line;
    if (list.empty()) first = line;
    list.push_back(shown);
    return index;
}

void report_referrer(const referrer &from) {
    if (!from.missing.empty())
        warn_at(from.name, from.missing_line, "Links to files that do not exist: %s",
                listed(from.missing.data(), from.missing.size()).c_str());
    if (!from.outside.empty())
        warn_at(from.name, from.outside_line, "Refers to files outside the project directory (not stored): %s",
                listed(from.outside.data(), from.outside.size()).c_str());
}

struct scan_context {
    collector *state;
    referrer *from;
};

void on_reference(void *user, std::string_view value, unsigned line) {
    scan_context &context = *static_cast<scan_context *>(user);
    follow(*context.state, *context.from, value, resolve_reference(value, context.from->base), line);
}

void scan_page(collector &state, size_t index, int fd, referrer &from) {
    scan_context context{&state, &from};
    page_scan page;
    page.reference = on_reference;
    page.user = &context;
    if (!scan_page_file(page, fd)) {
        warn_at(from.name, 0, "Cannot read the page: %s", strerror(errno));
        return;
    }
    if (page.reader.nul_line) warn_at(from.name, page.reader.nul_line, "The page holds NUL bytes: is it a page?");
    bool lost = false;
    state.titles[index] = page_title(page, state.project.code_page, lost);
    if (lost)
        warn_at(from.name, page.title_line, "The title has characters that code page %u lacks (shown as \"?\")",
                static_cast<unsigned>(state.project.code_page));
}

void scan_style_sheet(int fd, scan_context &context) {
    css_scanner scanner;
    scanner.found = on_reference;
    scanner.user = &context;
    char piece[markup_piece];
    ssize_t got;
    while ((got = read(fd, piece, sizeof piece)) != 0) {
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            warn_at(context.from->name, 0, "Cannot read the style sheet: %s", strerror(errno));
            return;
        }
        scan_css(scanner, std::string_view(piece, static_cast<size_t>(got)));
    }
}

// Follows the references of every stored page and style sheet, those
// added on the way included.
void follow_pages(collector &state) {
    for (size_t index = 0; index < state.contents.files.size(); index++) {
        std::string path = state.contents.files[index].path;
        bool html = state.contents.files[index].is_html;
        if (!html && !is_css_name(path)) continue;
        int fd = open(joined_path(state.root.path, path).c_str(), O_RDONLY | O_CLOEXEC);
        referrer from{path, std::string(directory_of(path)), {}, {}, 0, 0, {}};
        if (fd < 0) {
            warn_at(path, 0, "Cannot read the file: %s", strerror(errno));
            continue;
        }
        scan_context context{&state, &from};
        if (html) scan_page(state, index, fd, from);
        else scan_style_sheet(fd, context);
        close(fd);
        report_referrer(from);
    }
}

// Reads a sitemap the project names, following its Local values; returns
// the stored files they name.
std::vector<long> read_sitemap(collector &state, long index, sitemap_properties *properties) {
    std::vector<long> targets;
    if (index < 0) return targets;
    const std::string path = state.contents.files[static_cast<size_t>(index)].path;
    int fd = open(joined_path(state.root.path, path).c_str(), O_RDONLY | O_CLOEXEC);
    sitemap_contents sitemap;
    if (fd < 0 || !read_sitemap_file(fd, path, state.project.code_page, sitemap)) {
        warn_at(path, 0, "Cannot read the file: %s", strerror(errno));
        if (fd >= 0) close(fd);
        return targets;
    }
    close(fd);
    referrer from{path, "", {}, {}, 0, 0, {}};
    for (const sitemap_target &target : sitemap.targets)
        targets.push_back(follow(state, from, target.value, target.target, target.line));
    report_referrer(from);
    if (properties) {
        *properties = sitemap.properties;
        properties->from_contents_file = true;
    }
    return targets;
}

// What the project file names besides its lists: the windows' files and
// the context IDs' pages.
void follow_project_references(collector &state) {
    const help_project &project = state.project;
    referrer from{project.project_name, "", {}, {}, 0, 0, {}};
    for (size_t i = 0; i < project.windows.size(); i++) {
        const project_window &window = project.windows[i];
        unsigned line = i < project.lines.windows.size() ? project.lines.windows[i] : 0;
        for (const std::string *file :
             {&window.contents_file, &window.index_file, &window.default_file, &window.home_file})
            follow(state, from, *file, resolve_reference(*file, ""), line);
    }
    for (const context_id &id : project.context_ids) follow(state, from, id.file, resolve_reference(id.file, ""), 0);
    report_referrer(from);
}

void add_project_files(collector &state) {
    const help_project &project = state.project;
    for (size_t i = 0; i < project.files.size(); i++)
        add_named(state, project.files[i], project.lines.files[i], "listed in [FILES]");
    for (size_t i = 0; i < project.text_popups.size(); i++)
        add_named(state, project.text_popups[i], project.lines.text_popups[i], "listed in [TEXT POPUPS]");
    if (!project.default_topic.empty())
        add_named(state, project.default_topic, project.lines.default_topic, "the Default topic", true);
}

// Pages in [FILES] order, then the other stored pages by name.
void settle_topics(collector &state, const std::vector<long> &in_contents) {
    project_contents &contents = state.contents;
    std::vector<bool> taken(contents.files.size()), listed_in_contents(contents.files.size());
    for (long index : in_contents) {
        if (index >= 0) listed_in_contents[static_cast<size_t>(index)] = true;
    }
    auto add_topic = [&](size_t index) {
        if (taken[index] || !contents.files[index].is_html) return;
        taken[index] = true;
        contents.topics.push_back({contents.files[index].path, state.titles[index], listed_in_contents[index]});
    };
    for (const std::string &file : state.project.files) {
        resolved_reference path = resolve_project_path(file);
        auto known = state.known.find(path.path);
        if (path.kind == reference_kind::local && known != state.known.end() && known->second >= 0)
            add_topic(static_cast<size_t>(known->second));
    }
    std::vector<size_t> others;
    for (size_t index = 0; index < contents.files.size(); index++) {
        if (contents.files[index].is_html && !taken[index]) others.push_back(index);
    }
    std::sort(others.begin(), others.end(),
              [&](size_t a, size_t b) { return contents.files[a].path < contents.files[b].path; });
    for (size_t index : others) add_topic(index);
}

// xchm and kchmviewer look for NAME.hhc and NAME.hhk beside the output's
// name before they read the contents and index files the project names.
void warn_stem_sitemaps(const collector &state) {
    const help_project &project = state.project;
    for (const char *suffix : {".hhc", ".hhk"}) {
        std::string guess = project.compiled_stem + suffix;
        const std::string &named = suffix[3] == 'c' ? project.contents_file : project.index_file;
        for (const stored_file &file : state.contents.files) {
            if (strcasecmp(file.path.c_str(), guess.c_str()) == 0 && strcasecmp(file.path.c_str(), named.c_str()) != 0)
                warn_at(project.project_name, 0,
                        "%s is stored but is not the %s file: xchm and kchmviewer show it instead", file.path.c_str(),
                        suffix[3] == 'c' ? "Contents" : "Index");
        }
    }
}

void start_collector(collector &state) {
    const help_project &project = state.project;
    if (!open_root(state.root, project.directory)) state.root.path = project.directory;
    struct stat status;
    if (stat(joined_path(project.directory, project.project_name).c_str(), &status) == 0)
        state.never_stored.push_back(identity_of(status));
    for (const std::string &included : project.included_files) {
        if (stat(included.c_str(), &status) == 0) state.never_stored.push_back(identity_of(status));
    }
    std::string base = project.compiled_file.substr(project.compiled_file.rfind('/') + 1);
    std::string prefix(1, '.');
    prefix.append(base, 0, NAME_MAX - 8);
    prefix += '.';
    state.unfinished_prefix = std::move(prefix);
}
}  // namespace

outcome collect_files(const help_project &project, const file_identity &output, compile_report &report,
                      project_contents &contents) {
    contents = project_contents();
    collector state{project, output, report, contents, {}, {}, {}, {}, {}, {}};
    start_collector(state);
    if (state.root.real_path.empty())
        return {false, error_at(project.project_name, 0, "Cannot open the project directory %s: %s",
                                project.directory.c_str(), strerror(errno))};

    add_project_files(state);
    long contents_file = project.contents_file.empty() ? left_out
                                                       : add_named(state, project.contents_file,
                                                                   project.lines.contents_file, "the Contents file");
    long index_file = project.index_file.empty()
                          ? left_out
                          : add_named(state, project.index_file, project.lines.index_file, "the Index file");
    follow_project_references(state);
    std::vector<long> in_contents = read_sitemap(state, contents_file, &contents.properties);
    read_sitemap(state, index_file, nullptr);
    follow_pages(state);
    settle_topics(state, in_contents);
    warn_stem_sitemaps(state);
    return {};
}
