#include "its_check.h"

#include <chm_lib.h>
#include <mspack.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <sstream>

#include <gtest/gtest.h>

#include "test_support.h"

namespace fs = std::filesystem;

namespace {
constexpr size_t name_limit = 255;
constexpr size_t reported_mismatches = 20;

int folded(unsigned char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; }

bool catalogue_less(const expected_entry &a, const expected_entry &b) {
    size_t common = std::min(a.name.size(), b.name.size());
    for (size_t i = 0; i < common; i++) {
        int x = folded(static_cast<unsigned char>(a.name[i]));
        int y = folded(static_cast<unsigned char>(b.name[i]));
        if (x != y) return x < y;
    }
    return a.name.size() < b.name.size();
}

// Collects mismatches and reports the first few, so that a broken
// container with thousands of entries gives a readable failure.
struct mismatches {
    std::vector<std::string> found;
    size_t total = 0;
    void add(const std::string &what) {
        if (found.size() < reported_mismatches) found.push_back(what);
        total++;
    }
    void report(const char *reader) const {
        std::ostringstream text;
        for (const std::string &line : found) text << "  " << line << "\n";
        EXPECT_EQ(total, 0u) << reader << " disagrees on " << total << " entries, first:\n" << text.str();
    }
};

std::vector<const expected_entry *> in_order(const std::vector<expected_entry> &entries, file_order order) {
    std::vector<const expected_entry *> ordered;
    for (const expected_entry &entry : entries) ordered.push_back(&entry);
    if (order == file_order::last_to_first) std::reverse(ordered.begin(), ordered.end());
    return ordered;
}

// What is wrong with the place a reader found for the entry, or "".
std::string wrong_place(const expected_entry &entry, uint64_t section, uint64_t offset, uint64_t length) {
    if (!entry.is_dir && entry.path.empty()) return "";
    bool offset_right = entry.offset == any_offset || offset == entry.offset;
    if (section == entry.section && offset_right && length == entry.length) return "";
    std::ostringstream text;
    text << entry.name << ": section " << section << " offset " << offset << " length " << length << ", expected "
         << entry.section << " " << entry.offset << " " << entry.length;
    return text.str();
}
}  // namespace

std::vector<expected_entry> expected_entries(const std::string &root) {
    std::vector<expected_entry> entries{{"/", root, true, 0, 0, 0}};
    // Paths below root start with root and one "/"; cutting that off is far
    // cheaper than fs::relative, which resolves links on every component.
    size_t prefix = root.size() + (root.ends_with('/') ? 0 : 1);
    fs::recursive_directory_iterator it(root, fs::directory_options::follow_directory_symlink);
    for (; it != fs::recursive_directory_iterator(); ++it) {
        std::string name = "/" + it->path().string().substr(prefix);
        if (it->is_directory()) {
            if (name.size() + 1 > name_limit) {
                it.disable_recursion_pending();
                continue;
            }
            entries.push_back({name + "/", it->path().string(), true, 0, 0, 0});
        } else if (it->is_regular_file() && name.size() <= name_limit) {
            // The walk passes over FIFOs, sockets and devices.
            entries.push_back({name, it->path().string(), false, 1, 0, static_cast<uint64_t>(it->file_size())});
        }
    }
    std::sort(entries.begin(), entries.end(), catalogue_less);
    uint64_t stream_position = 0;
    for (expected_entry &entry : entries) {
        if (entry.is_dir) continue;
        if (entry.length == 0) {
            entry.section = 0;
            continue;
        }
        entry.offset = stream_position;
        stream_position += entry.length;
    }
    return entries;
}

std::vector<expected_entry> expected_project_entries(const std::string &dir, const std::vector<std::string> &stored,
                                                     const std::vector<std::string> &internal) {
    std::vector<expected_entry> entries{{"/", dir, true, 0, 0, 0}};
    std::set<std::string> directories;
    for (const std::vector<std::string> *names : {&stored, &internal}) {
        for (const std::string &name : *names) {
            for (size_t slash = name.find('/', 1); slash != std::string::npos; slash = name.find('/', slash + 1))
                directories.insert(name.substr(0, slash + 1));
        }
    }
    for (const std::string &directory : directories) entries.push_back({directory, dir + directory, true, 0, 0, 0});
    for (const std::string &name : stored) {
        uint64_t length = fs::file_size(dir + name);
        entries.push_back({name, dir + name, false, length ? 1u : 0u, length ? any_offset : 0, length});
    }
    for (const std::string &name : internal) entries.push_back({name, "", false, 0, 0, 0});
    std::sort(entries.begin(), entries.end(), catalogue_less);
    return entries;
}

std::vector<std::string> stored_names(const std::string &chm) {
    std::vector<std::string> names;
    chmFile *reader = chm_open(chm.c_str());
    if (!reader) {
        ADD_FAILURE() << "chm_open failed on " << chm;
        return names;
    }
    chm_enumerate(
        reader, CHM_ENUMERATE_NORMAL | CHM_ENUMERATE_FILES,
        [](chmFile *, chmUnitInfo *unit, void *context) {
            static_cast<std::vector<std::string> *>(context)->push_back(unit->path);
            return CHM_ENUMERATOR_CONTINUE;
        },
        &names);
    chm_close(reader);
    return names;
}

std::string pack(const std::string &dir) {
    process_result result = run_kelto({dir});
    EXPECT_EQ(result.status, 0) << result.output.substr(0, 4000);
    std::string its = dir + ".its";
    EXPECT_TRUE(path_exists(its));
    return its;
}

void check_with_libmspack(const std::string &its, const std::vector<expected_entry> &entries, file_order order) {
    mschm_decompressor *reader = mspack_create_chm_decompressor(nullptr);
    ASSERT_NE(reader, nullptr);
    mschmd_header *header = reader->fast_open(reader, its.c_str());
    ASSERT_NE(header, nullptr) << "fast_open failed, error " << reader->last_error(reader);

    std::string extracted = its + ".extracted";
    mismatches wrong;
    for (const expected_entry *e : in_order(entries, order)) {
        const expected_entry &entry = *e;
        mschmd_file file{};
        if (reader->fast_find(reader, header, entry.name.c_str(), &file, sizeof file) != MSPACK_ERR_OK ||
            !file.section) {
            wrong.add(entry.name + ": not found");
            continue;
        }
        std::string place = wrong_place(entry, file.section->id, static_cast<uint64_t>(file.offset),
                                        static_cast<uint64_t>(file.length));
        if (!place.empty()) {
            wrong.add(place);
            continue;
        }
        if (entry.is_dir || entry.path.empty()) continue;
        if (reader->extract(reader, &file, extracted.c_str()) != MSPACK_ERR_OK) {
            wrong.add(entry.name + ": extract failed, error " + std::to_string(reader->last_error(reader)));
        } else if (read_file(extracted) != read_file(entry.path)) {
            wrong.add(entry.name + ": extracted bytes differ");
        }
    }
    reader->close(reader, header);
    remove(extracted.c_str());
    wrong.report("libmspack fast_find/extract");

    // The full directory read must not show input names we did not put in.
    header = reader->open(reader, its.c_str());
    ASSERT_NE(header, nullptr) << "open failed, error " << reader->last_error(reader);
    std::set<std::string> known;
    for (const expected_entry &entry : entries) known.insert(entry.name);
    mismatches unknown;
    for (mschmd_file *file = header->files; file; file = file->next) {
        if (!known.count(file->filename)) unknown.add(std::string(file->filename) + ": unexpected");
    }
    reader->close(reader, header);
    mspack_destroy_chm_decompressor(reader);
    unknown.report("libmspack open");
}

void check_with_chmlib(const std::string &its, const std::vector<expected_entry> &entries, file_order order) {
    chmFile *reader = chm_open(its.c_str());
    ASSERT_NE(reader, nullptr) << "chm_open failed";
    mismatches wrong;
    for (const expected_entry *e : in_order(entries, order)) {
        const expected_entry &entry = *e;
        chmUnitInfo unit{};
        if (chm_resolve_object(reader, entry.name.c_str(), &unit) != CHM_RESOLVE_SUCCESS) {
            wrong.add(entry.name + ": not found");
            continue;
        }
        std::string place = wrong_place(entry, static_cast<uint64_t>(unit.space), unit.start, unit.length);
        if (!place.empty()) {
            wrong.add(place);
            continue;
        }
        if (entry.is_dir || entry.length == 0 || entry.path.empty()) continue;
        std::string bytes = chmlib_retrieve(reader, unit);
        if (bytes.size() != entry.length)
            wrong.add(entry.name + ": retrieved " + std::to_string(bytes.size()) + " bytes");
        else if (bytes != read_file(entry.path)) wrong.add(entry.name + ": extracted bytes differ");
    }
    chm_close(reader);
    wrong.report("chmlib chm_resolve_object/chm_retrieve_object");
}

void check_with_7zip(const std::string &its, const std::vector<expected_entry> &entries, const std::string &scratch,
                     file_order order) {
    // 7-Zip converts names through the locale.
    setenv("LC_ALL", "C.UTF-8", 1);
    std::string out = scratch + "/7z-out";
    std::vector<std::string> command = {SEVENZIP_EXECUTABLE, "x", "-y", "-bd", "-spd", "-o" + out, its};
    if (order == file_order::catalogue) {
        process_result result = run_process(command);
        ASSERT_EQ(result.status, 0) << result.output.substr(0, 4000);
    }
    mismatches wrong;
    for (const expected_entry *e : in_order(entries, order)) {
        const expected_entry &entry = *e;
        if (entry.is_dir || entry.length == 0 || entry.path.empty()) continue;
        if (order == file_order::last_to_first) {
            remove_tree(out);
            command.push_back(entry.name.substr(1));
            process_result result = run_process(command);
            command.pop_back();
            if (result.status != 0) wrong.add(entry.name + ": " + result.output.substr(0, 400));
        }
        std::string copy = out + entry.name;
        if (!path_exists(copy)) wrong.add(entry.name + ": not extracted");
        else if (read_file(copy) != read_file(entry.path)) wrong.add(entry.name + ": extracted bytes differ");
    }
    remove_tree(out);
    wrong.report("7zz x");
}

void check_with_every_reader(const std::string &its, const std::vector<expected_entry> &entries,
                             const std::string &scratch, file_order order) {
    check_with_libmspack(its, entries, order);
    check_with_chmlib(its, entries, order);
    check_with_7zip(its, entries, scratch, order);
}

void pack_and_check(const std::string &dir, const std::string &scratch, file_order order) {
    std::vector<expected_entry> entries = expected_entries(dir);
    std::string its = pack(dir);
    if (!path_exists(its)) return;
    check_with_every_reader(its, entries, scratch, order);
}

std::string sample_bytes(size_t length, uint32_t seed) {
    static const char words[][8] = {"<p>", "the ", "kelto ", "</div>", "\n", "frame ", "data ", "=\"x\" "};
    std::string bytes;
    bytes.reserve(length);
    uint32_t state = seed * 2654435761u + 7;
    while (bytes.size() < length) {
        state = state * 1664525u + 1013904223u;
        if ((state >> 28) < 11) bytes += words[(state >> 16) & 7];
        else bytes += static_cast<char>(state >> 8);
    }
    bytes.resize(length);
    return bytes;
}
