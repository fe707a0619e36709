#include "run/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "run/kept_attributes.h"
#include "run/run_state.h"

namespace {
// Length of the directory part of path, its last "/" included.
int directory_length(const char *path) {
    const char *slash = strrchr(path, '/');
    return slash ? static_cast<int>(slash - path) + 1 : 0;
}

// Where path leads, link by link: a link's text is taken relative to the
// directory that holds the link, so a dangling link leads to the file it
// would create. Null after 40 links (a loop, as the system counts them) or
// when memory runs out.
char *follow_links(const char *path) {
    char *current = strdup(path);
    for (int links = 0; current && links <= 40; links++) {
        struct stat status;
        if (lstat(current, &status) != 0 || !S_ISLNK(status.st_mode)) return current;
        char text[PATH_MAX];
        ssize_t length = readlink(current, text, sizeof text - 1);
        char *next = nullptr;
        if (length > 0) {
            text[length] = '\0';
            int kept = text[0] == '/' ? 0 : directory_length(current);
            if (asprintf(&next, "%.*s%s", kept, current, text) < 0) next = nullptr;
        }
        free(current);
        current = next;
    }
    free(current);
    return nullptr;
}

// The directory that holds path, as a path of its own; null when memory
// runs out.
char *holding_directory(const char *path) {
    int directory = directory_length(path);
    return directory ? strndup(path, static_cast<size_t>(directory)) : strdup(".");
}

// The replaced file's name as the hidden names beside it carry it: cut so
// that a dot before and ".XXXXXX" after fit the system's limit on one name.
constexpr int kept_name_length = NAME_MAX - 8;

// A hidden name beside path for mkostemp.
char *unfinished_name(const char *path) {
    int directory = directory_length(path);
    char *name;
    if (asprintf(&name, "%.*s.%.*s.XXXXXX", directory, path, kept_name_length, path + directory) < 0)
        return nullptr;
    return name;
}

// The six characters that mkostemp puts in place of XXXXXX.
bool is_random_suffix(const char *text) {
    for (int i = 0; i < 6; i++)
        if (!isalnum(static_cast<unsigned char>(text[i]))) return false;
    return text[6] == '\0';
}

mode_t mode_for_new_file(void) {
    mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

void forget_unfinished(void) {
    free(run.unfinished_path);
    run.unfinished_path = nullptr;
}
}  // namespace

void locate_output(void) {
    free(run.replaced_path);
    run.replaced_path = follow_links(run.output_path);
    run.output_directory_known = false;
    if (!run.replaced_path) return;
    char *holder = holding_directory(run.replaced_path);
    struct stat status;
    if (holder && stat(holder, &status) == 0) {
        run.output_directory_known = true;
        run.output_directory_device = static_cast<uint64_t>(status.st_dev);
        run.output_directory_inode = static_cast<uint64_t>(status.st_ino);
    }
    free(holder);
}

bool is_unfinished_output(uint64_t device, uint64_t inode, const char *name) {
    if (!run.output_directory_known || device != run.output_directory_device || inode != run.output_directory_inode)
        return false;
    const char *replaced = run.replaced_path + directory_length(run.replaced_path);
    size_t length = strnlen(replaced, kept_name_length);
    return name[0] == '.' && strncmp(name + 1, replaced, length) == 0 && name[1 + length] == '.' &&
           is_random_suffix(name + 2 + length);
}

int create_output(void) {
    if (!run.replaced_path) locate_output();
    if (!run.replaced_path) return -1;
    // Only a regular file is replaced: a pipe, a device or a directory of
    // that name is not the run's. A file that could not be written in place
    // is refused, as it was when the output was truncated.
    struct stat status;
    bool exists = lstat(run.replaced_path, &status) == 0;
    if (exists ? !S_ISREG(status.st_mode) || faccessat(AT_FDCWD, run.replaced_path, W_OK, AT_EACCESS) != 0
               : errno != ENOENT)
        return -1;

    run.unfinished_path = unfinished_name(run.replaced_path);
    if (!run.unfinished_path) return -1;
    int fd = mkostemp(run.unfinished_path, O_CLOEXEC);
    if (fd < 0) {
        forget_unfinished();
        return -1;
    }
    // What the replaced file carried carries over, as it did when it was
    // overwritten in place.
    if (exists) keep_attributes(fd, run.replaced_path, status, run.output_path);
    else fchmod(fd, mode_for_new_file());
    run.output_file = fdopen(fd, "wb");
    if (!run.output_file) {
        close(fd);
        unlink(run.unfinished_path);
        forget_unfinished();
        return -1;
    }
    return 0;
}

int replace_output(void) {
    if (rename(run.unfinished_path, run.replaced_path) != 0) return -1;
    // The new name reaches the disk with its directory. The file is in
    // place already, so a directory that cannot be synced is no failure.
    char *holder = holding_directory(run.replaced_path);
    int directory = holder ? open(holder, O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
    if (directory >= 0) {
        fsync(directory);
        close(directory);
    }
    free(holder);
    return 0;
}
