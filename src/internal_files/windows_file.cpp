// /#WINDOWS: the window definitions of [WINDOWS] in the viewer's own
// structure, strings as offsets into /#STRINGS.
#include <strings.h>

#include <algorithm>

#include "internal_files/file_builders.h"

namespace {
constexpr uint32_t entry_size = 0xC4;

// fsValidMembers: which numeric members the definition gave.
enum valid_member : uint32_t {
    valid_none = 0,
    valid_properties = 0x2,
    valid_styles = 0x4,
    valid_ex_styles = 0x8,
    valid_position = 0x10,
    valid_navigation_width = 0x20,
    valid_show_state = 0x40,
    valid_buttons = 0x100,
    valid_expansion = 0x200,
    valid_tab_position = 0x400,
    valid_current_tab = 0x2000,
};

void append_window(byte_vector &out, const project_window &window, string_pool &strings) {
    size_t base = out.size();
    out.resize(base + entry_size, 0);
    uint32_t valid = 0;
    auto text = [&](size_t field, const std::string &value) { store_le32(out, base + field, strings.add(value)); };
    auto number = [&](size_t field, window_number value, uint32_t member) {
        store_le32(out, base + field, value.value);
        if (value.given) valid |= member;
    };
    store_le32(out, base, entry_size);
    // The strings in the order of the structure.
    text(0x08, window.name);
    text(0x14, window.caption);
    text(0x60, window.contents_file);
    text(0x64, window.index_file);
    text(0x68, window.default_file);
    text(0x6C, window.home_file);
    text(0x9C, window.jump1_text);
    text(0xA0, window.jump2_text);
    text(0xA4, window.jump1_url);
    text(0xA8, window.jump2_url);
    number(0x10, window.navigation_style, valid_properties);
    number(0x18, window.styles, valid_styles);
    number(0x1C, window.ex_styles, valid_ex_styles);
    for (size_t i = 0; i < 4; i++) number(0x20 + 4 * i, window.position[i], valid_position);
    number(0x30, window.show_state, valid_show_state);
    number(0x4C, window.navigation_width, valid_navigation_width);
    number(0x70, window.buttons, valid_buttons);
    number(0x74, window.navigation_closed, valid_expansion);
    number(0x78, window.default_tab, valid_current_tab);
    number(0x7C, window.navigation_position, valid_tab_position);
    number(0x80, window.notify_id, valid_none);
    store_le32(out, base + 0x0C, valid);
}
}  // namespace

byte_vector build_windows(const help_project &project, string_pool &strings) {
    byte_vector out;
    if (project.windows.empty()) return out;
    // The viewers that read one entry read the first: the Default Window.
    std::vector<const project_window *> order;
    for (const project_window &window : project.windows) order.push_back(&window);
    for (size_t i = 0; i < order.size(); i++) {
        if (strcasecmp(order[i]->name.c_str(), project.default_window.c_str()) == 0) {
            std::rotate(order.begin(), order.begin() + i, order.begin() + i + 1);
            break;
        }
    }
    append_le32(out, static_cast<uint32_t>(order.size()));
    append_le32(out, entry_size);
    for (const project_window *window : order) append_window(out, *window, strings);
    return out;
}
