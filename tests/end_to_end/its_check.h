// Packing a tree with the kelto binary and reading the result back with
// real readers: libmspack and chmlib in-process, 7-Zip as a process.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// One internal name the container should hold, and where.
struct expected_entry {
    std::string name;  // internal name: "/" + path below the input, "/" after directories
    std::string path;  // the file or directory on disk
    bool is_dir;
    uint32_t section;
    uint64_t offset;
    uint64_t length;
};

// An offset the checks pass over: where a compiled help file's pages lie in
// the stream depends on its internal files.
constexpr uint64_t any_offset = UINT64_MAX;

// What a compiled project should hold: the root and the directories above
// the names, each stored file (paths below dir, read from there) at any
// offset, and the internal files, of which only the presence is checked
// (an entry with no path).
std::vector<expected_entry> expected_project_entries(const std::string &dir, const std::vector<std::string> &stored,
                                                     const std::vector<std::string> &internal);

// The author's files that a compiled help file lists (every name but the
// internal files and directories), as chmlib enumerates them.
std::vector<std::string> stored_names(const std::string &chm);

// Every name the walk catalogues below root, in catalogue order, with the
// section, offset and length the compression pass gives it.
std::vector<expected_entry> expected_entries(const std::string &root);

// The order in which a reader takes the files. Last to first, every file is
// decoded from the reset point before it instead of following on from the
// file before it.
enum class file_order { catalogue, last_to_first };

// Runs kelto on dir and expects a complete run; returns the .its path.
std::string pack(const std::string &dir);

// Finds every expected name through libmspack's fast_find, compares its
// section, offset and length, extracts every file and compares the bytes;
// also opens the whole directory and expects no unknown input names.
void check_with_libmspack(const std::string &its, const std::vector<expected_entry> &entries,
                          file_order order = file_order::catalogue);

// Resolves every expected name with chmlib, compares its place and
// retrieves every file.
void check_with_chmlib(const std::string &its, const std::vector<expected_entry> &entries,
                       file_order order = file_order::catalogue);

// Extracts everything with one 7zz x into scratch, or last to first one file
// per 7zz x, and compares every file.
void check_with_7zip(const std::string &its, const std::vector<expected_entry> &entries, const std::string &scratch,
                     file_order order = file_order::catalogue);

// The three readers on one container.
void check_with_every_reader(const std::string &its, const std::vector<expected_entry> &entries,
                             const std::string &scratch, file_order order = file_order::catalogue);

// The three readers on a freshly packed tree.
void pack_and_check(const std::string &dir, const std::string &scratch, file_order order = file_order::catalogue);

// A deterministic mix of text-like and noisy bytes.
std::string sample_bytes(size_t length, uint32_t seed);
