// [WINDOWS]: name="caption","contents","index","default","home","jump 1 URL",
// "jump 1 text","jump 2 URL","jump 2 text",navigation style,navigation
// width,buttons,[left,top,right,bottom],style,extended style,show state,
// navigation closed,default tab,navigation position,ID
#include <string>
#include <vector>

#include "project/project_paths.h"
#include "project/project_reading.h"

namespace {
struct window_field {
    std::string text;
    bool quoted = false;
    bool bracketed = false;
};

// Splits at the commas outside quotes and brackets; an unclosed quote or
// bracket runs to the end of the line, with a problem to report.
std::vector<window_field> split_fields(std::string_view text, std::string &problem) {
    std::vector<window_field> fields;
    size_t i = 0;
    while (true) {
        window_field field;
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) i++;
        if (i < text.size() && (text[i] == '"' || text[i] == '[')) {
            char close = text[i] == '"' ? '"' : ']';
            field.quoted = close == '"';
            field.bracketed = close == ']';
            size_t end = text.find(close, i + 1);
            if (end == std::string_view::npos) {
                if (problem.empty()) problem = std::string("a field without its closing ") + close;
                end = text.size();
            }
            field.text = text.substr(i + 1, end - i - 1);
            i = end + 1;
            while (i < text.size() && text[i] != ',') {
                if (text[i] != ' ' && text[i] != '\t' && problem.empty())
                    problem = "text after a closing quote or bracket";
                i++;
            }
        } else {
            size_t end = text.find(',', i);
            if (end == std::string_view::npos) end = text.size();
            field.text = trimmed(text.substr(i, end - i));
            i = end;
        }
        fields.push_back(std::move(field));
        if (i >= text.size()) return fields;
        i++;  // the comma
    }
}

bool read_field_number(const window_field &field, window_number &number) {
    if (trimmed(field.text).empty()) return true;
    number.given = read_number(field.text, number.value);
    return number.given;
}
}  // namespace

bool read_window(std::string_view key, std::string_view value, project_window &window, std::string &problem) {
    problem.clear();  // the first problem found is reported
    std::string_view name = trimmed(key);
    if (name.size() >= 2 && name.front() == '"' && name.back() == '"') name = name.substr(1, name.size() - 2);
    if (name.empty()) {
        if (problem.empty()) problem = "a window definition without a name";
        return false;
    }
    window.name = name;
    std::vector<window_field> fields = split_fields(value, problem);

    std::string *strings[] = {&window.caption,      &window.contents_file, &window.index_file,
                              &window.default_file, &window.home_file,     &window.jump1_url,
                              &window.jump1_text,   &window.jump2_url,     &window.jump2_text};
    window_number *numbers[] = {
        &window.navigation_style, &window.navigation_width,    &window.buttons,    nullptr,
        &window.styles,           &window.ex_styles,           &window.show_state, &window.navigation_closed,
        &window.default_tab,      &window.navigation_position, &window.notify_id};
    constexpr size_t string_count = sizeof strings / sizeof *strings;
    constexpr size_t field_count = string_count + sizeof numbers / sizeof *numbers;
    if (fields.size() > field_count && problem.empty())
        problem = "more than " + std::to_string(field_count) + " fields (ignoring the rest)";

    for (size_t i = 0; i < fields.size() && i < field_count; i++) {
        const window_field &field = fields[i];
        if (i < string_count) {
            bool is_file = i >= 1 && i <= 4;  // contents, index, default, home
            *strings[i] = is_file ? project_path(field.text, true) : field.text;
            continue;
        }
        window_number *number = numbers[i - string_count];
        if (number && read_field_number(field, *number)) continue;
        if (!number && field.bracketed) {
            // [left,top,right,bottom]
            std::vector<window_field> sides = split_fields(field.text, problem);
            for (size_t side = 0; side < sides.size() && side < 4; side++) {
                if (!read_field_number(sides[side], window.position[side]))
                    if (problem.empty())
                        problem = "the position [" + field.text + "] holds something else than numbers";
            }
            continue;
        }
        if (!number && trimmed(field.text).empty()) continue;
        if (problem.empty())
            problem = "field " + std::to_string(i + 1) + ", \"" + field.text + "\", is not a number" +
                      (number ? "" : " nor a position [left,top,right,bottom]");
    }
    return true;
}
