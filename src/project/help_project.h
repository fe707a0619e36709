// What the project compiler knows of a help project once it has read it:
// the project file's settings, the files to store and the topics. The
// reader fills these records; the writer of the internal files reads them.
// Every string meant for a viewer's display (titles, captions, property
// values) is already in the code page of the project's language; paths are
// the bytes of the internal names, without their leading "/".
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// A number of a window definition, and whether the line gave it.
struct window_number {
    uint32_t value = 0;
    bool given = false;
};

// One line of [WINDOWS].
struct project_window {
    std::string name;
    std::string caption;
    std::string contents_file;
    std::string index_file;
    std::string default_file;
    std::string home_file;
    std::string jump1_url;
    std::string jump1_text;
    std::string jump2_url;
    std::string jump2_text;
    window_number navigation_style;  // HHWIN_PROP_* bits
    window_number navigation_width;
    window_number buttons;           // HHWIN_BUTTON_* bits
    window_number position[4];       // left, top, right, bottom
    window_number styles;
    window_number ex_styles;
    window_number show_state;
    window_number navigation_closed;
    window_number default_tab;
    window_number navigation_position;
    window_number notify_id;
};

// A numeric context ID of [MAP] joined on its symbolic name with the file
// that [ALIAS] gives it.
struct context_id {
    uint32_t id;
    std::string file;
};

// The lines of the project file that name each thing, for messages (0:
// not named there).
struct project_lines {
    unsigned contents_file = 0;
    unsigned index_file = 0;
    unsigned default_topic = 0;
    std::vector<unsigned> files;        // one per [FILES] entry
    std::vector<unsigned> text_popups;  // one per [TEXT POPUPS] entry
    std::vector<unsigned> windows;      // one per window
};

// The project file, read.
struct help_project {
    std::string project_name;   // the .hhp's own name, for messages
    std::string directory;      // the directory that holds it, as a path to open ("." for the current one)
    std::string compiled_file;  // the output's path, relative to the current directory
    std::string compiled_stem;  // lower-cased name of the output without ".chm"

    std::string title;
    std::string default_topic;  // the project's own, or the first HTML file of [FILES]
    std::string contents_file;
    std::string index_file;
    std::string default_window;
    std::string default_font;   // "face,size,charset", verbatim
    std::string stop_list_file;
    uint32_t lcid = 0x409;
    uint32_t code_page = 1252;
    bool compatibility_1_0 = false;
    bool full_text_search = false;

    std::vector<std::string> files;  // [FILES], in order
    std::vector<project_window> windows;
    std::vector<context_id> context_ids;
    std::vector<std::string> merge_files;
    std::vector<std::string> text_popups;

    std::vector<std::string> included_files;  // headers and alias files read, as paths to open; never stored
    project_lines lines;
};

// The global properties of the contents file that the viewers' index header
// carries; each empty when the file does not set it.
struct sitemap_properties {
    bool from_contents_file = false;  // false: the project has no contents file
    std::string image_list;
    bool folder_images = false;       // ImageType=Folder
    std::string background;
    std::string foreground;
    std::string font;
    std::string window_styles;
    std::string ex_window_styles;
    std::string frame_name;
    std::string window_name;
};

// A page that search results and context help can name.
struct topic {
    std::string path;
    std::string title;        // empty when the page has none
    bool in_contents = false; // the contents file points at it
};

// An internal file built in memory.
struct internal_file {
    std::string name;  // "/#SYSTEM"
    bool in_section_0 = false;
    std::vector<uint8_t> bytes;
};
