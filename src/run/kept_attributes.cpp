#include "run/kept_attributes.h"

#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "run/terminal_output.h"

namespace {
// A value of the named attribute at path, or of the open file when path is
// null; false when there is none.
bool read_attribute(const char *path, int fd, const char *name, std::vector<char> &value) {
    ssize_t length = path ? getxattr(path, name, nullptr, 0) : fgetxattr(fd, name, nullptr, 0);
    if (length < 0) return false;
    value.resize(static_cast<size_t>(length));
    length = path ? getxattr(path, name, value.data(), value.size()) : fgetxattr(fd, name, value.data(), value.size());
    if (length < 0) return false;
    value.resize(static_cast<size_t>(length));
    return true;
}

// False when an attribute could not be copied. The system may have given
// the new file one already (a security label): an equal value stays.
bool copy_attributes(const char *from, int fd) {
    ssize_t size = listxattr(from, nullptr, 0);
    // A file system without attributes has none to keep.
    if (size <= 0) return size == 0 || errno == ENOTSUP;
    std::vector<char> names(static_cast<size_t>(size));
    size = listxattr(from, names.data(), names.size());
    if (size < 0) return false;
    bool all = true;
    std::vector<char> value, present;
    for (const char *name = names.data(); name < names.data() + size; name += strlen(name) + 1) {
        if (!read_attribute(from, -1, name, value)) {
            all = false;
        } else if (!(read_attribute(nullptr, fd, name, present) && present == value) &&
                   fsetxattr(fd, name, value.data(), value.size(), 0) != 0) {
            all = false;
        }
    }
    return all;
}
}  // namespace

void keep_attributes(int fd, const char *replaced, const struct stat &status, const char *shown_path) {
    std::vector<std::string> lost;
    if (fchown(fd, status.st_uid, status.st_gid) != 0) {
        // A member of the file's group may still give it that group.
        if (fchown(fd, static_cast<uid_t>(-1), status.st_gid) != 0) lost.emplace_back("group");
        struct stat now;
        if (fstat(fd, &now) != 0 || now.st_uid != status.st_uid) lost.insert(lost.begin(), "owner");
    }
    // After the owner: a change of owner clears the set-ID bits.
    if (fchmod(fd, status.st_mode & 07777) != 0) lost.emplace_back("mode");
    if (!copy_attributes(replaced, fd)) lost.emplace_back("extended attributes");
    if (lost.empty()) return;
    std::string parts = lost[0];
    for (size_t i = 1; i < lost.size(); i++) parts += (i + 1 < lost.size() ? ", " : " and ") + lost[i];
    printf("WARNING: Could not keep the %s of the replaced file %s\n", parts.c_str(), shown_name(shown_path));
}
