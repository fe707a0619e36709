// The files that make a container a compiled help file: settings, topics,
// URLs, strings, windows and context IDs, built in memory.
#pragma once
#include <cstdint>
#include <vector>

#include "project/help_project.h"

// Builds /#SYSTEM and /#ITBITS (section 0), /#STRINGS, /#TOPICS, /#URLTBL,
// /#URLSTR, /#IDXHDR, /#WINDOWS (with windows), /#IVB (with context IDs) and
// the two Property files. build_time is in Unix seconds, UTC.
std::vector<internal_file> write_internal_files(const help_project &project, const std::vector<topic> &topics,
                                                const sitemap_properties &properties, int64_t build_time);
