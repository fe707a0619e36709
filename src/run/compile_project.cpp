#include "run/compile_project.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <unordered_map>
#include <vector>

#include "catalogue/builtin_entries.h"
#include "catalogue/entry_table.h"
#include "compress/compress_pass.h"
#include "container/container_writer.h"
#include "internal_files/internal_files.h"
#include "project/project_messages.h"
#include "project/read_project.h"
#include "run/full_text_feed.h"
#include "run/run_state.h"
#include "run/run_steps.h"
#include "run/settings.h"

namespace {
int fail(const std::string &message) {
    printf("ERROR: %s\n", message.c_str());
    return -1;
}

// The build time that #SYSTEM records: SOURCE_DATE_EPOCH when set, as
// reproducible builds ask, else the clock. False for a value that is not
// a count of seconds that a 32-bit field holds.
bool build_time(int64_t &seconds) {
    const char *fixed = getenv("SOURCE_DATE_EPOCH");
    if (!fixed) {
        seconds = static_cast<int64_t>(time(nullptr));
        return true;
    }
    char *end;
    errno = 0;
    unsigned long long value = strtoull(fixed, &end, 10);
    if (errno != 0 || end == fixed || *end != '\0' || *fixed < '0' || *fixed > '9' || value > UINT32_MAX)
        return false;
    seconds = static_cast<int64_t>(value);
    return true;
}

file_identity earlier_output(void) {
    return file_identity{run.output_exists, run.output_device, run.output_inode};
}

// Every directory above the names, each once, with its "/" at the end.
std::set<std::string> directories_above(const std::vector<std::string> &names) {
    std::set<std::string> directories;
    for (const std::string &name : names) {
        for (size_t slash = name.find('/'); slash != std::string::npos; slash = name.find('/', slash + 1))
            directories.insert(name.substr(0, slash + 1));
    }
    return directories;
}

// One byte for the full-text index's entry until the pass fills it in.
const uint8_t index_placeholder[1] = {0};
constexpr char index_name[] = "$FIftiMain";

// Fills the catalogue: the root and every directory, the author's files,
// the internal files from memory (the full-text index's to be filled in)
// and the container's own; then sorts it.
int catalogue_project(const project_contents &contents, const std::vector<internal_file> &internal,
                      bool with_index) {
    if (start_name_prefix() != 0) return -1;
    std::vector<std::string> names;
    for (const stored_file &file : contents.files) names.push_back(file.path);
    for (const internal_file &file : internal) names.push_back(file.name.substr(1));
    int failed = add_dir_entry();
    for (const std::string &directory : directories_above(names)) failed |= add_subdir_entry(directory.c_str());
    for (const stored_file &file : contents.files) {
        failed |= add_file_entry(file.path.c_str());
        run.input_size += file.size;
    }
    for (const internal_file &file : internal) {
        failed |= add_memory_entry(file.name.c_str() + 1, file.bytes.data(), static_cast<uint32_t>(file.bytes.size()),
                                   file.in_section_0 || file.bytes.empty() ? 0 : 1);
        run.input_size += file.bytes.size();
    }
    if (with_index) failed |= add_memory_entry(index_name, index_placeholder, sizeof index_placeholder, 1);
    failed |= add_builtin_entries();
    if (failed) return fail("Out of memory while cataloguing the project");
    sort_catalogue();
    return 0;
}

// The order the compression pass feeds the entries in: the pages in topic
// order, so that the full-text index takes its documents in order, then
// the other files by name, then the internal files, the index last, when
// everything it indexes has been read. Tells the index's feed its entry
// and which entry is which document (topic number).
std::vector<its_entry *> stream_order(const project_contents &contents, full_text_feed *search) {
    std::unordered_map<std::string, its_entry *> by_name;
    for (uint64_t i = 0; i < run.entry_table.count; i++) {
        its_entry *entry = run.entry_table.entries[i];
        by_name[entry->name] = entry;
    }
    if (search) search->index_entry = by_name[std::string("/") + index_name];
    std::vector<its_entry *> order;
    std::set<const its_entry *> placed;
    for (size_t number = 0; number < contents.topics.size(); number++) {
        its_entry *entry = by_name["/" + contents.topics[number].path];
        if (!entry || !placed.insert(entry).second) continue;
        if (search) search->documents[entry] = static_cast<uint32_t>(number);
        order.push_back(entry);
    }
    for (bool memory : {false, true}) {
        for (uint64_t i = 0; i < run.entry_table.count; i++) {
            its_entry *entry = run.entry_table.entries[i];
            bool is_index = search && entry == search->index_entry;
            bool elsewhere = is_index || placed.count(entry) || (entry->memory != nullptr) != memory;
            if (entry->section == 0 || elsewhere) continue;
            order.push_back(entry);
        }
    }
    if (search) order.push_back(search->index_entry);
    return order;
}

// The words that the project's stop list leaves out of the index.
std::vector<std::string> stop_words(const help_project &project) {
    if (project.stop_list_file.empty()) return {};
    std::ifstream file(project.directory + "/" + project.stop_list_file, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    if (!file) {
        warn_at(project.stop_list_file, 0, "Cannot read the stop list file (indexing every word)");
        return {};
    }
    return stop_words_of(text.str(), project.code_page);
}
}  // namespace

int compile_project(const char *path) {
    help_project project;
    compile_report report;
    outcome read = read_project_file(path, project, report);
    if (!read.ok) return fail(read.message);

    int64_t built;
    if (!build_time(built)) return fail("SOURCE_DATE_EPOCH is not a count of seconds since 1970: " +
                                        std::string(getenv("SOURCE_DATE_EPOCH")));

    run.output_path = strdup(project.compiled_file.c_str());
    if (!run.output_path) return fail("Filename malloc failed");
    // Noted first, so that the earlier output is not stored.
    note_earlier_output();
    project_contents contents;
    outcome collected = collect_files(project, earlier_output(), report, contents);
    if (!collected.ok) return fail(collected.message);

    std::vector<internal_file> internal = write_internal_files(project, contents.topics, contents.properties, built);
    // The author's files are read from the project's directory.
    run.input_path = const_cast<char *>(project.directory.c_str());
    settings.itsf_language = project.lcid;
    std::unique_ptr<full_text_feed> search;
    if (project.full_text_search) search = std::make_unique<full_text_feed>(stop_words(project));
    if (catalogue_project(contents, internal, search != nullptr) != 0) return -1;
    if (search) {
        search->topic_count = static_cast<uint32_t>(contents.topics.size());
        search->lcid = project.lcid;
        search->code_page = project.code_page;
    }
    std::vector<its_entry *> order = stream_order(contents, search.get());
    run.stream_order = order.data();
    run.stream_count = order.size();
    if (search) watch_feed(*search);
    if (check_input_size() != 0) return -1;
    if (open_output() != 0) return -1;

    compress_content();
    write_container();
    finish_output();
    run.incomplete_entries += report.missing;
    return completed_status();
}
