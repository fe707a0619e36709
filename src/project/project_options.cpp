// [OPTIONS]: the settings the compiler acts on, and a word about the rest.
#include <strings.h>

#include <cstring>

#include "project/code_page.h"
#include "project/named_kinds.h"
#include "project/project_messages.h"
#include "project/project_paths.h"
#include "project/project_reading.h"

namespace {
enum class option {
    compatibility,
    compiled_file,
    contents_file,
    index_file,
    default_topic,
    default_window,
    title,
    language,
    default_font,
    full_text_search,
    stop_list_file,
    binary_toc,
    binary_index,
    not_acted_on,
    unknown,
};

const named_kind<option> known_options[] = {
    {"Compatibility", option::compatibility},
    {"Compiled file", option::compiled_file},
    {"Contents file", option::contents_file},
    {"Index file", option::index_file},
    {"Default topic", option::default_topic},
    {"Default Window", option::default_window},
    {"Title", option::title},
    {"Language", option::language},
    {"Default Font", option::default_font},
    {"Full-text search", option::full_text_search},
    {"Full text search stop list file", option::stop_list_file},
    {"Binary TOC", option::binary_toc},
    {"Binary Index", option::binary_index},
    // Known to the Windows compiler, not acted on here.
    {"Auto Index", option::not_acted_on},
    {"Auto TOC", option::not_acted_on},
    {"Create CHI file", option::not_acted_on},
    {"DBCS", option::not_acted_on},
    {"Display compile notes", option::not_acted_on},
    {"Display compile progress", option::not_acted_on},
    {"Enhanced decompilation", option::not_acted_on},
    {"Error log file", option::not_acted_on},
    {"Flat", option::not_acted_on},
    {"Custom tab", option::not_acted_on},
    {"CITATION", option::not_acted_on},
    {"COPYRIGHT", option::not_acted_on},
    {"COMPRESS", option::not_acted_on},
    {"IGNORE", option::not_acted_on},
    {"PREFIX", option::not_acted_on},
    {"TMPDIR", option::not_acted_on},
    {"Sample list file", option::not_acted_on},
    {"Sample Staging Path", option::not_acted_on},
};

// Sphinx writes "Display compile progress=No" into every project: only a
// value that asks for something deserves a word.
bool asks_for_something(std::string_view value) {
    return !value.empty() && !same_name(value, "No") && !same_name(value, "0") && !same_name(value, "false") &&
           !same_name(value, "off");
}

bool is_yes(std::string_view value) {
    return same_name(value, "Yes") || same_name(value, "1") || same_name(value, "true") || same_name(value, "on");
}

std::string lower(std::string text) {
    for (char &c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

void settle_output(project_reading &reading) {
    help_project &project = *reading.project;
    std::string file = with_slashes(reading.compiled_file);
    if (file.size() >= 2 && file[1] == ':') {
        warn_at(reading.name, reading.compiled_file_line,
                "Compiled file %s is a Windows path (writing the default name instead)", file.c_str());
        file.clear();
    }
    if (file.empty() || file.back() == '/') {
        std::string stem = project.project_name.substr(0, project.project_name.rfind('.'));
        file = stem + ".chm";
    }
    project.compiled_file = file[0] == '/' ? file : joined_path(project.directory, file);
    std::string base = file.substr(file.rfind('/') + 1);
    if (base.size() > 4 && strcasecmp(base.c_str() + base.size() - 4, ".chm") == 0) base.resize(base.size() - 4);
    project.compiled_stem = lower(base);
}

void settle_language(project_reading &reading) {
    help_project &project = *reading.project;
    if (reading.language_line) {
        std::string_view token = reading.language;
        token = token.substr(0, token.find_first_of(" \t"));
        uint32_t lcid = 0;
        if (!read_number(token, lcid) || lcid == 0) {
            warn_at(reading.name, reading.language_line,
                    "Language \"%s\" is not a language ID (using 0x409, English (United States))",
                    reading.language.c_str());
            lcid = 0x409;
        }
        project.lcid = lcid;
    }
    project.code_page = code_page_of(project.lcid);
}

void settle_default_topic(project_reading &reading) {
    help_project &project = *reading.project;
    if (!project.default_topic.empty()) return;
    for (const std::string &file : project.files) {
        if (is_html_name(file)) {
            project.default_topic = file;
            warn_at(reading.name, 0, "No Default topic: the first page of [FILES], %s, is shown first", file.c_str());
            return;
        }
    }
    warn_at(reading.name, 0, "No Default topic, and [FILES] lists no page: viewers open without a page");
}

// The strings a viewer shows, in the language's code page.
void convert_shown_strings(project_reading &reading) {
    help_project &project = *reading.project;
    code_page_converter converter("UTF-8", project.code_page);
    bool lost = false;
    auto convert = [&](std::string &text) {
        if (!is_ascii(text)) text = converter.convert(text, lost);
    };
    convert(project.title);
    convert(project.default_font);
    for (project_window &window : project.windows) {
        convert(window.caption);
        convert(window.jump1_text);
        convert(window.jump2_text);
    }
    if (lost)
        warn_at(reading.name, 0, "Characters that code page %u lacks are shown as \"?\"",
                static_cast<unsigned>(project.code_page));
}

void note_binary_tables(project_reading &reading) {
    unsigned toc = reading.binary_toc_line, index = reading.binary_index_line;
    if (!toc && !index) return;
    const char *what = toc && index ? "Binary TOC and Binary Index are" : toc ? "Binary TOC is" : "Binary Index is";
    const char *instead = toc && index ? "contents and index files" : toc ? "contents file" : "index file";
    note_at(reading.name, toc && (!index || toc < index) ? toc : index,
            "%s not written: the viewers read the %s instead", what, instead);
}
}  // namespace

void read_option(project_reading &reading, std::string_view key, std::string_view value, unsigned line) {
    help_project &project = *reading.project;
    switch (kind_named(known_options, key, option::unknown)) {
    case option::compatibility: project.compatibility_1_0 = value == "1.0"; break;
    case option::compiled_file:
        reading.compiled_file = value;
        reading.compiled_file_line = line;
        break;
    case option::contents_file:
        project.contents_file = project_path(value);
        project.lines.contents_file = line;
        break;
    case option::index_file:
        project.index_file = project_path(value);
        project.lines.index_file = line;
        break;
    case option::default_topic:
        project.default_topic = project_path(value, true);
        project.lines.default_topic = line;
        break;
    case option::default_window: project.default_window = value; break;
    case option::title: project.title = value; break;
    case option::language:
        reading.language = value;
        reading.language_line = line;
        break;
    case option::default_font: project.default_font = value; break;
    case option::full_text_search: project.full_text_search = is_yes(value); break;
    case option::stop_list_file: project.stop_list_file = project_path(value); break;
    case option::binary_toc: reading.binary_toc_line = is_yes(value) ? line : 0; break;
    case option::binary_index: reading.binary_index_line = is_yes(value) ? line : 0; break;
    case option::not_acted_on:
        if (asks_for_something(value))
            warn_at(reading.name, line, "Option \"%.*s\" is not supported (ignoring it)", static_cast<int>(key.size()),
                    key.data());
        break;
    case option::unknown:
        warn_at(reading.name, line, "Unknown option \"%.*s\" (ignoring it)", static_cast<int>(key.size()), key.data());
        break;
    }
}

void finish_options(project_reading &reading, bool utf8_text) {
    help_project &project = *reading.project;
    settle_output(reading);
    settle_language(reading);
    settle_default_topic(reading);
    if (!project.default_window.empty()) {
        bool defined = false;
        for (const project_window &window : project.windows) defined = defined || window.name == project.default_window;
        if (!defined)
            warn_at(reading.name, 0, "Default Window \"%s\" is not defined in [WINDOWS]",
                    project.default_window.c_str());
    }
    if (utf8_text) convert_shown_strings(reading);
    note_binary_tables(reading);
}
