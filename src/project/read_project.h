// Reading a help project: the project file, its sitemaps, and every file
// that the project and its pages lead to.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "project/help_project.h"

// What a reading step gives back: ok, or the message that ends the run
// (without "ERROR: " and the line feed), naming the file and line at fault.
struct outcome {
    bool ok = true;
    std::string message;
};

// Counts what the run reports at its end: files that the project itself
// names and that could not be read make the run end with status 1.
struct compile_report {
    uint64_t missing = 0;
};

// A file that must not be stored: the earlier output, when it lies where
// the project's pages could lead.
struct file_identity {
    bool exists = false;
    uint64_t device = 0;
    uint64_t inode = 0;
};

// One file to store, by its path below the project's directory.
struct stored_file {
    std::string path;
    bool is_html = false;
    uint64_t size = 0;  // when it was examined
};

// Everything that goes into the .chm besides the internal files.
struct project_contents {
    std::vector<stored_file> files;  // each path once
    std::vector<topic> topics;       // [FILES] order, then the other pages by name
    sitemap_properties properties;
};

// Reads the .hhp at path (its [OPTIONS], [FILES], [WINDOWS], [ALIAS], [MAP]
// with the headers it includes, [TEXT POPUPS], [MERGE FILES], [INFOTYPES]),
// printing a warning for what it does not act on. Fails on a file that
// cannot be read or is not a project file.
outcome read_project_file(const std::string &path, help_project &project, compile_report &report);

// The same for a project file's bytes in memory: `name` for messages,
// `directory` the one that holds it (where its #include files are found).
outcome parse_project_text(std::string_view text, const std::string &name, const std::string &directory,
                           help_project &project);

// Finds the files to store: [FILES], the contents and index files, the
// sitemaps' local targets, the pages and style sheets these lead to, and the
// text popups; reads the pages' titles and the contents file's properties.
// Leaves out what lies outside the project's directory and the file that
// `output` names, with warnings.
outcome collect_files(const help_project &project, const file_identity &output, compile_report &report,
                      project_contents &contents);
