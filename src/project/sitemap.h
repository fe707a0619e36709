// The contents (.hhc) and index (.hhk) files: HTML lists of
// <object type="text/sitemap"> items whose <param>s name the pages.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "project/help_project.h"
#include "project/project_paths.h"

// A Local (or URL) value of an item: the file it names, below the project's
// directory; viewers look it up from the top of the compiled file, not from
// the sitemap's own directory.
struct sitemap_target {
    std::string value;  // as written
    resolved_reference target;
    unsigned line = 0;
};

struct sitemap_contents {
    std::vector<sitemap_target> targets;
    sitemap_properties properties;  // the text/site properties object's
    size_t items = 0;               // text/sitemap objects
};

// Reads the sitemap from fd, warning (as `name`) about what the viewers
// would stumble on; false when it could not be read (errno set).
bool read_sitemap_file(int fd, const std::string &name, uint32_t code_page, sitemap_contents &contents);
void read_sitemap_text(std::string_view bytes, const std::string &name, uint32_t code_page, sitemap_contents &contents);
