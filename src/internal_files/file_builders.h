// The builders of the single internal files. Those that name strings add
// them to the pool as they go, so the order of the calls is the order of
// the strings in /#STRINGS.
#pragma once
#include <cstdint>
#include <vector>

#include "internal_files/byte_output.h"
#include "internal_files/string_pool.h"
#include "project/help_project.h"

// /#WINDOWS, the Default Window's entry first; empty without windows.
byte_vector build_windows(const help_project &project, string_pool &strings);

// /#IVB: the size of the pair array, then (context ID, file's string) pairs.
byte_vector build_context_ids(const std::vector<context_id> &context_ids, string_pool &strings);

struct topic_tables {
    byte_vector topics;       // /#TOPICS
    byte_vector url_table;    // /#URLTBL
    byte_vector url_strings;  // /#URLSTR
};
topic_tables build_topic_tables(const std::vector<topic> &topics, string_pool &strings);

// /#IDXHDR: 4096 bytes with the contents file's global properties and the
// merge files.
byte_vector build_index_header(const sitemap_properties &properties, const std::vector<std::string> &merge_files,
                               uint32_t topic_count, uint32_t build_seconds, string_pool &strings);

// /#SYSTEM; index_header is copied in as code 13.
byte_vector build_system(const help_project &project, uint32_t build_seconds, const byte_vector &index_header);
