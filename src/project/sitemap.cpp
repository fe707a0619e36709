#include "project/sitemap.h"

#include <strings.h>

#include <cstring>

#include "project/markup_reader.h"
#include "project/named_kinds.h"
#include "project/project_messages.h"

namespace {
// kchmviewer aborts on lists nested deeper.
constexpr unsigned deepest_list = 256;

// What a <param> may carry about a sitemap as a whole.
enum class property {
    none,
    image_list,
    image_type,
    background,
    foreground,
    font,
    window_styles,
    ex_window_styles,
    frame_name,
    window_name
};

struct sitemap_reading {
    sitemap_reading(const std::string &file, sitemap_contents &into) : name(file), contents(into) {}
    const std::string &name;
    sitemap_contents &contents;
    markup_reader reader;
    enum { outside, item, properties } object = outside;
    unsigned lists = 0;
    bool finishing = false;
    unsigned unclosed = 0;  // lists closed only by the end of the file
    bool warned_param = false;
    bool warned_depth = false;
    std::vector<std::pair<property, markup_text>> caught;
};

const char *as_text(const xmlChar *text) { return reinterpret_cast<const char *>(text); }
bool named(const xmlChar *name, const char *expected) { return name && strcasecmp(as_text(name), expected) == 0; }

const xmlChar *attribute(const xmlChar **attributes, const char *name) {
    for (const xmlChar **at = attributes; at && at[0]; at += 2) {
        if (named(at[0], name)) return at[1] ? at[1] : reinterpret_cast<const xmlChar *>("");
    }
    return nullptr;
}

// The <param ...> tag as written: kchmviewer reads the raw text, finds
// "name=" and "value=" (any case), each followed by a value in double
// quotes, and aborts when one is missing.
bool kchmviewer_reads(const markup_reader &reader) {
    const xmlChar *base = reader.context->input->base, *end = reader.context->input->cur;
    const char *tag = nullptr;
    for (const xmlChar *at = end; at > base; at--) {
        if (at[-1] == '<' && end - at >= 5 && strncasecmp(reinterpret_cast<const char *>(at), "param", 5) == 0) {
            tag = reinterpret_cast<const char *>(at);
            break;
        }
    }
    if (!tag) return true;  // not in the parser's buffer any more: no judgement
    std::string_view text(tag, static_cast<size_t>(reinterpret_cast<const char *>(end) - tag));
    auto find = [&text](std::string_view word, size_t from) {
        for (size_t at = from; at + word.size() <= text.size(); at++) {
            if (strncasecmp(text.data() + at, word.data(), word.size()) == 0) return at;
        }
        return std::string_view::npos;
    };
    auto quoted_after = [&text](size_t from) {
        size_t open = text.find('"', from);
        return open == std::string_view::npos ? open : text.find('"', open + 1);
    };
    size_t name = find("name=", 0);
    size_t name_end = name == std::string_view::npos ? name : quoted_after(name + 5);
    size_t value = name_end == std::string_view::npos ? name_end : find("value=", name_end);
    return value != std::string_view::npos && quoted_after(value + 6) != std::string_view::npos;
}

const named_kind<property> properties[] = {
    {"ImageList", property::image_list},
    {"ImageType", property::image_type},
    {"Background", property::background},
    {"Foreground", property::foreground},
    {"Font", property::font},
    {"Window Styles", property::window_styles},
    {"ExWindow Styles", property::ex_window_styles},
    {"FrameName", property::frame_name},
    {"WindowName", property::window_name},
};

void read_param(sitemap_reading &reading, const xmlChar **attributes) {
    // kchmviewer reads the params of text/sitemap objects only.
    if (reading.object == sitemap_reading::item && !reading.warned_param && !kchmviewer_reads(reading.reader)) {
        warn_at(reading.name, markup_line(reading.reader),
                "A <param> without name=\"...\" and value=\"...\" in double quotes: kchmviewer stops on this file");
        reading.warned_param = true;
    }
    const xmlChar *name = attribute(attributes, "name"), *value = attribute(attributes, "value");
    if (!name || !value) return;
    if (reading.object == sitemap_reading::properties) {
        property kind = kind_named(properties, as_text(name), property::none);
        if (kind != property::none) reading.caught.emplace_back(kind, caught_text(reading.reader, as_text(value)));
        return;
    }
    if (!named(name, "Local") && !named(name, "URL")) return;
    sitemap_target target;
    target.value = source_bytes(reading.reader, as_text(value));
    target.line = markup_line(reading.reader);
    // Viewers look the value up from the top: "/x" and "../x" find nothing.
    std::string_view path = trimmed(target.value);
    while (!path.empty() && (path[0] == '/' || path[0] == '\\')) path.remove_prefix(1);
    target.target = resolve_reference(path, "");
    reading.contents.targets.push_back(std::move(target));
}

void start_element(void *user, const xmlChar *name, const xmlChar **attributes) {
    sitemap_reading &reading = *static_cast<sitemap_reading *>(user);
    if (named(name, "ul")) {
        if (++reading.lists > deepest_list && !reading.warned_depth) {
            warn_at(reading.name, markup_line(reading.reader),
                    "Lists nested deeper than %u levels: kchmviewer stops on this file", deepest_list);
            reading.warned_depth = true;
        }
    } else if (named(name, "object")) {
        const xmlChar *type = attribute(attributes, "type");
        if (type && strcasestr(as_text(type), "text/sitemap")) {
            reading.object = sitemap_reading::item;
            reading.contents.items++;
        } else if (type && strcasestr(as_text(type), "text/site properties")) {
            reading.object = sitemap_reading::properties;
        }
    } else if (named(name, "param") && reading.object != sitemap_reading::outside) {
        read_param(reading, attributes);
    }
}

void end_element(void *user, const xmlChar *name) {
    sitemap_reading &reading = *static_cast<sitemap_reading *>(user);
    if (named(name, "ul") && reading.lists) {
        reading.lists--;
        // At its end libxml2 closes what is still open: not an end tag, nor
        // a start tag that implies one.
        xmlParserInputState state = reading.reader.context->instate;
        if (reading.finishing && state != XML_PARSER_END_TAG && state != XML_PARSER_START_TAG) reading.unclosed++;
    } else if (named(name, "object")) reading.object = sitemap_reading::outside;
}

void start(sitemap_reading &reading) {
    htmlSAXHandler sax;
    memset(&sax, 0, sizeof sax);
    sax.startElement = start_element;
    sax.endElement = end_element;
    start_markup(reading.reader, &sax, &reading);
}

void settle_properties(sitemap_reading &reading, uint32_t code_page) {
    code_page_converter converter("UTF-8", code_page);
    bool lost = false;
    sitemap_properties &properties = reading.contents.properties;
    for (const auto &[kind, text] : reading.caught) {
        std::string shown = shown_text(reading.reader, text, converter, lost);
        switch (kind) {
        case property::image_list: properties.image_list = shown; break;
        case property::image_type: properties.folder_images = strcasecmp(shown.c_str(), "Folder") == 0; break;
        case property::background: properties.background = shown; break;
        case property::foreground: properties.foreground = shown; break;
        case property::font: properties.font = shown; break;
        case property::window_styles: properties.window_styles = shown; break;
        case property::ex_window_styles: properties.ex_window_styles = shown; break;
        case property::frame_name: properties.frame_name = shown; break;
        case property::window_name: properties.window_name = shown; break;
        case property::none: break;
        }
    }
    if (lost)
        warn_at(reading.name, 0, "Characters that code page %u lacks are shown as \"?\"",
                static_cast<unsigned>(code_page));
}

void warn_unreachable(const sitemap_reading &reading) {
    std::vector<std::string> values;
    unsigned first = 0;
    for (const sitemap_target &target : reading.contents.targets) {
        std::string value = with_slashes(trimmed(target.value));
        bool climbs = value.substr(0, 3) == "../" || value.find("/../") != value.npos || value == ".." ||
                      (value.size() >= 3 && value.substr(value.size() - 3) == "/..");
        if (target.target.kind == reference_kind::external || (!climbs && value.substr(0, 1) != "/")) continue;
        if (values.empty()) first = target.line;
        values.push_back(target.value);
    }
    if (!values.empty())
        warn_at(reading.name, first,
                "Local values with \"..\" or a leading \"/\": viewers look them up from the top of the compiled "
                "file and find nothing: %s",
                listed(values.data(), values.size()).c_str());
}

void finish(sitemap_reading &reading, uint32_t code_page) {
    reading.finishing = true;
    finish_markup(reading.reader);
    // Lists still open when the file ends: a file cut short.
    if (unsigned open = reading.unclosed)
        warn_at(reading.name, reading.reader.lines, "The file ends inside %u unclosed list%s (<ul>): is it cut short?",
                open, open == 1 ? "" : "s");
    if (reading.reader.nul_line)
        warn_at(reading.name, reading.reader.nul_line, "The file holds NUL bytes: it is not a sitemap");
    else if (reading.reader.size == 0) warn_at(reading.name, 0, "The file is empty");
    else if (reading.contents.items == 0)
        warn_at(reading.name, 0, "No entries (<object type=\"text/sitemap\">) in the file");
    settle_properties(reading, code_page);
    warn_unreachable(reading);
}
}  // namespace

bool read_sitemap_file(int fd, const std::string &name, uint32_t code_page, sitemap_contents &contents) {
    sitemap_reading reading(name, contents);
    start(reading);
    bool read = push_markup_file(reading.reader, fd);
    finish(reading, code_page);
    return read;
}

void read_sitemap_text(std::string_view bytes, const std::string &name, uint32_t code_page,
                       sitemap_contents &contents) {
    sitemap_reading reading(name, contents);
    start(reading);
    push_markup_text(reading.reader, bytes);
    finish(reading, code_page);
}
