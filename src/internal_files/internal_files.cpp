#include "internal_files/internal_files.h"

#include <algorithm>

#include "internal_files/file_builders.h"

namespace {
// Both the Unix seconds of code 10 and the header's stamp are DWORDs.
uint32_t build_seconds_of(int64_t build_time) {
    return static_cast<uint32_t>(std::clamp<int64_t>(build_time, 0, UINT32_MAX));
}

// The links files' Property: empty indexes.
byte_vector empty_links_property() { return byte_vector(4, 0); }
}  // namespace

std::vector<internal_file> write_internal_files(const help_project &project, const std::vector<topic> &topics,
                                                const sitemap_properties &properties, int64_t build_time) {
    uint32_t build_seconds = build_seconds_of(build_time);
    // The builders fill the string pool in this order.
    string_pool strings(project.code_page);
    byte_vector windows = build_windows(project, strings);
    byte_vector context_ids = build_context_ids(project.context_ids, strings);
    topic_tables tables = build_topic_tables(topics, strings);
    byte_vector index_header = build_index_header(properties, project.merge_files,
                                                  static_cast<uint32_t>(topics.size()), build_seconds, strings);

    std::vector<internal_file> files;
    files.push_back({"/#SYSTEM", true, build_system(project, build_seconds, index_header)});
    files.push_back({"/#ITBITS", true, {}});
    if (!windows.empty()) files.push_back({"/#WINDOWS", false, std::move(windows)});
    if (!project.context_ids.empty()) files.push_back({"/#IVB", false, std::move(context_ids)});
    files.push_back({"/$WWKeywordLinks/Property", false, empty_links_property()});
    files.push_back({"/$WWAssociativeLinks/Property", false, empty_links_property()});
    files.push_back({"/#IDXHDR", false, std::move(index_header)});
    files.push_back({"/#TOPICS", false, std::move(tables.topics)});
    files.push_back({"/#URLTBL", false, std::move(tables.url_table)});
    files.push_back({"/#URLSTR", false, std::move(tables.url_strings)});
    files.push_back({"/#STRINGS", false, strings.bytes()});
    return files;
}
