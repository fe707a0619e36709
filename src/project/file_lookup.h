// Finding the files a project names on disk, and keeping inside its
// directory.
#pragma once
#include <sys/stat.h>

#include <string>
#include <unordered_map>

// The project's directory as the system resolves it, to tell whether a
// file that a symbolic link leads to still lies inside it.
struct project_root {
    std::string path;       // as the project gives it ("." for the current directory)
    std::string real_path;  // with every link resolved, ending in "/"
    std::unordered_map<std::string, std::string> real_directories;  // directory below the root -> its real path
};

bool open_root(project_root &root, const std::string &path);

// Whether the file at `path` (below the root, already checked for "..")
// lies inside the root once links are followed.
bool stays_inside(project_root &root, const std::string &path);

// The path of an existing file that `path` names in another case, one step
// at a time, as Windows would find it; empty when there is none.
std::string case_insensitive_match(const project_root &root, const std::string &path);
