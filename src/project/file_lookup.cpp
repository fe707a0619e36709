#include "project/file_lookup.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

#include <climits>
#include <cstdlib>
#include <memory>

#include "project/project_paths.h"

namespace {
std::string real_path_of(const std::string &path) {
    std::unique_ptr<char, decltype(&free)> real(realpath(path.c_str(), nullptr), free);
    return real ? std::string(real.get()) : std::string();
}

bool inside(const project_root &root, const std::string &real) {
    return !real.empty() && (real + "/").compare(0, root.real_path.size(), root.real_path) == 0;
}
}  // namespace

bool open_root(project_root &root, const std::string &path) {
    root.path = path;
    root.real_path = real_path_of(path);
    if (root.real_path.empty()) return false;
    if (root.real_path.back() != '/') root.real_path += '/';
    return true;
}

bool stays_inside(project_root &root, const std::string &path) {
    std::string directory(directory_of(path));
    auto known = root.real_directories.find(directory);
    if (known == root.real_directories.end())
        known = root.real_directories
                    .emplace(directory, real_path_of(joined_path(root.path, directory.empty() ? "." : directory)))
                    .first;
    if (!inside(root, known->second)) return false;
    // Only a link in the last step can lead elsewhere now.
    std::string full = joined_path(root.path, path);
    struct stat status;
    if (lstat(full.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) return true;
    return inside(root, real_path_of(full));
}

std::string case_insensitive_match(const project_root &root, const std::string &path) {
    std::string found;
    size_t start = 0;
    while (start < path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        std::string step = path.substr(start, end - start);
        DIR *directory = opendir(joined_path(root.path, found.empty() ? "." : found).c_str());
        if (!directory) return {};
        std::string match;
        while (dirent *entry = readdir(directory)) {
            if (step == entry->d_name) {
                match = step;
                break;
            }
            if (match.empty() && strcasecmp(step.c_str(), entry->d_name) == 0) match = entry->d_name;
        }
        closedir(directory);
        if (match.empty()) return {};
        found += (found.empty() ? "" : "/") + match;
        start = end + 1;
    }
    return found;
}
