#include "catalogue/walk_dir.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "catalogue/entry_table.h"
#include "run/fatal.h"
#include "run/growth.h"
#include "run/output_file.h"
#include "run/run_state.h"
#include "run/settings.h"
#include "run/terminal_output.h"

// Names are looked up relative to the open directory (openat, fstatat), so
// the walk never changes the working directory, whatever form the input
// path has and whichever links it passes.

namespace {
using dir_id = std::pair<dev_t, ino_t>;

// Symbolic links that fan out (two to the next level at each of forty
// levels, no loop among them) reach the same directories under twice as many
// names at every level, and the walk would run until memory is gone. A link
// loop followed to the name limit walks a directory at most 127 times, a few
// links to directories walk each a few times; so the walk stops when one
// directory is walked for the 1001st time, or when directories walked again
// have given a million entries, as many as the tool is measured for.
constexpr uint32_t walks_limit = 1000;
constexpr uint64_t copied_entries_limit = 1000000;

struct walk_context {
    // Directories reached by a path without symbolic links. Meeting one of
    // them again on another such path means a second hard link or a bind
    // mount. Directories reached through a symbolic link are neither
    // recorded nor reported: a link to a directory duplicates it by design,
    // and a link loop would otherwise warn at every turn.
    std::set<dir_id> seen;
    // How often each directory was walked, by any path, and the entries
    // read in those walked again.
    std::map<dir_id, uint32_t> walks;
    uint64_t copies;
    // The directories of the current descent, and the names they were
    // entered by: meeting one of them again closes a loop.
    std::vector<dir_id> ancestors;
    std::vector<std::string> names;
    // The entries (directory and name) of the first loop closed on the
    // current descent. That loop is followed round until the name limit
    // ends it; an entry that would close another loop is not entered, as a
    // second loop would multiply the names at every level and the walk
    // would never end. With flattened names no limit ends a loop, so none
    // is followed.
    bool in_loop;
    std::vector<std::pair<dir_id, std::string>> cycle;
    // With flattened names: the real path below the input directory of the
    // directory being walked, "" or ending in "/".
    std::string real_path;
};

int walk_at(walk_context &context, int parent_fd, const char *path, bool through_link);

const char *shown_prefix(void) { return shown_name(run.name_prefix.buffer + 1); }

// The directory being walked, below the input directory, as messages show it.
const char *shown_directory(const walk_context &context) {
    return settings.flatten_names ? shown_name(context.real_path.c_str()) : shown_prefix();
}

// Warns about an entry that the container will lack in part or whole,
// which makes the run end with status 1.
__attribute__((format(printf, 1, 2))) void warn_incomplete(const char *format, ...) {
    va_list args;
    va_start(args, format);
    vprintf(format, args);
    va_end(args);
    run.incomplete_entries++;
}

[[noreturn]] void stop_fanning_out(const walk_context &context) {
    end_run("ERROR: Symbolic links lead into the same directories again and again (stopped in /%s); the walk "
            "would not end\n",
            shown_directory(context));
}

bool is_symbolic_link(int dir_fd, const char *name) {
    struct stat link_status;
    return fstatat(dir_fd, name, &link_status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(link_status.st_mode);
}

// Appends name and "/" to the prefix; false, after the warning, when the
// directory is to be left out.
bool extend_prefix(const char *name) {
    name_prefix &prefix = run.name_prefix;
    uint32_t length = prefix.length + static_cast<uint32_t>(strlen(name)) + 1;
    if (length > 255) {
        printf("WARNING: The ITSF format does not support dirs with internal names longer than 255 characters "
               "(ignoring %s%s/)\n",
               shown_prefix(), shown_name(name));
        return false;
    }
    uint32_t need = static_cast<uint32_t>(capacity_before_append(length));
    if (prefix.capacity < need) {
        char *grown = static_cast<char *>(realloc(prefix.buffer, need));
        if (!grown) {
            warn_incomplete("WARNING: Could not realloc prefix (ignoring %s%s/)\n", shown_prefix(), shown_name(name));
            return false;
        }
        prefix.buffer = grown;
        prefix.capacity = need;
    }
    snprintf(prefix.buffer + prefix.length, need - prefix.length, "%s/", name);
    prefix.length = length;
    return true;
}

void restore_prefix(uint32_t length) {
    run.name_prefix.length = length;
    run.name_prefix.buffer[length] = '\0';
}

bool closes_loop(const walk_context &context, const dir_id &id) {
    return std::find(context.ancestors.begin(), context.ancestors.end(), id) != context.ancestors.end();
}

// Whether name, in the directory being walked, is an entry of the loop
// being followed.
bool on_cycle(const walk_context &context, const char *name) {
    for (const auto &step : context.cycle)
        if (step.first == context.ancestors.back() && step.second == name) return true;
    return false;
}

// Records the entries from the directory id, an ancestor, down to name,
// the entry that leads back to it.
void start_loop(walk_context &context, const dir_id &id, const char *name) {
    size_t top = std::find(context.ancestors.begin(), context.ancestors.end(), id) - context.ancestors.begin();
    context.cycle.clear();
    for (size_t level = top + 1; level < context.ancestors.size(); level++)
        context.cycle.emplace_back(context.ancestors[level - 1], context.names[level]);
    context.cycle.emplace_back(context.ancestors.back(), name);
    context.in_loop = true;
}

// Returns how much the subdirectory adds to its parent's count: 1 when it
// was opened and its own entry (if wanted) was added, else 0. A directory
// that can neither be added nor opened counts 0 as well, so that -1 keeps
// meaning "could not open".
int walk_subdirectory(walk_context &context, int dir_fd, const char *name, const struct stat &status,
                      bool parent_through_link) {
    bool through_link = parent_through_link || is_symbolic_link(dir_fd, name);
    dir_id id{status.st_dev, status.st_ino};
    if (!through_link && context.seen.count(id))
        printf("WARNING: Hard linked directories in the ITSF format? Nah thats pushing it. Maybe in a future "
               "version. Dirs hard linked to %s%s will be duplicated instead.\n",
               shown_prefix(), shown_name(name));

    bool flat = settings.flatten_names;
    bool starts_loop = false;
    if (closes_loop(context, id)) {
        if (flat || (context.in_loop && !on_cycle(context, name))) {
            printf("WARNING: Directory %s%s/ leads back to a directory above it (ignoring)\n",
                   shown_directory(context), shown_name(name));
            return 0;
        }
        starts_loop = !context.in_loop;
    }

    uint32_t remembered = run.name_prefix.length;
    size_t remembered_real = context.real_path.size();
    bool entry_failed = false;
    if (flat) {
        context.real_path.append(name).append("/");
    } else {
        if (!extend_prefix(name)) return 0;
        if (settings.add_directories && add_dir_entry() != 0) {
            warn_incomplete("WARNING: Could not add the directory %s (still adding its contents)\n", shown_prefix());
            entry_failed = true;
        }
    }

    if (starts_loop) start_loop(context, id, name);
    int nested = walk_at(context, dir_fd, name, through_link);
    if (starts_loop) {
        context.in_loop = false;
        context.cycle.clear();
    }
    if (nested < 0)
        warn_incomplete("WARNING: Could not open directory %s (ignoring)\n", shown_directory(context));

    if (flat) context.real_path.resize(remembered_real);
    else restore_prefix(remembered);
    return nested >= 0 && !entry_failed ? 1 : 0;
}

// Returns 1 when the file was catalogued, else 0.
int catalogue_file(walk_context &context, const char *name, const struct stat &status) {
    // An earlier output inside the tree would be packed into the container
    // that replaces it.
    if (is_output_file(status.st_dev, status.st_ino)) {
        printf("WARNING: The input holds the output file as %s%s (ignoring)\n", shown_prefix(), shown_name(name));
        return 0;
    }
    // Beside an output inside the tree lie the hidden files that runs write
    // it to: another run's, going on, or one a killed run left.
    const dir_id &directory = context.ancestors.back();
    if (is_unfinished_output(directory.first, directory.second, name)) {
        printf("WARNING: The input holds an unfinished output of an earlier run as %s%s (ignoring; it may be "
               "deleted)\n",
               shown_prefix(), shown_name(name));
        return 0;
    }
    if (status.st_nlink > 1)
        printf("WARNING: The ITSF format does not specifically support hard linked files, but they can be faked, "
               "kind of, and it depends on the decompressor. Not in this version though. Files hard linked to "
               "%s%s will be duplicated instead.\n",
               shown_prefix(), shown_name(name));

    if (run.name_prefix.length + strlen(name) > 255) {
        printf("WARNING: The ITSF format does not support files with internal names longer than 255 characters "
               "(ignoring %s%s/)\n",
               shown_prefix(), shown_name(name));
        return 0;
    }

    int added;
    if (settings.flatten_names && !context.real_path.empty())
        added = add_file_entry_from(name, (context.real_path + name).c_str());
    else
        added = add_file_entry(name);
    if (added != 0) {
        warn_incomplete("WARNING: Could not add file %s%s (ignoring)\n", shown_prefix(), shown_name(name));
        return 0;
    }
    run.input_size += static_cast<uint64_t>(status.st_size);
    return 1;
}

int walk_entry(walk_context &context, int dir_fd, const char *name, bool through_link) {
    struct stat status;
    if (fstatat(dir_fd, name, &status, 0) != 0) {
        warn_incomplete("WARNING: Could not stat %s%s (ignoring)\n", shown_prefix(), shown_name(name));
        return 0;
    }
    if (S_ISDIR(status.st_mode)) return walk_subdirectory(context, dir_fd, name, status, through_link);
    // Reading a pipe, socket or device could block forever or never end.
    if (!S_ISREG(status.st_mode)) {
        printf("WARNING: Not a regular file or directory: %s%s (ignoring)\n", shown_prefix(), shown_name(name));
        return 0;
    }
    return catalogue_file(context, name, status);
}

int walk_at(walk_context &context, int parent_fd, const char *path, bool through_link) {
    int fd = openat(parent_fd, path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return -1;
    DIR *dir = fdopendir(fd);
    if (!dir) {
        close(fd);
        return -1;
    }
    struct stat self;
    bool known = fstat(fd, &self) == 0;
    dir_id id = known ? dir_id{self.st_dev, self.st_ino} : dir_id{};
    if (known && !through_link) context.seen.insert(id);
    uint32_t walks = known ? ++context.walks[id] : 1;
    if (walks > walks_limit) stop_fanning_out(context);
    context.ancestors.push_back(id);
    context.names.push_back(path);

    int count = 0;
    for (;;) {
        // readdir tells its end from a failure only through errno.
        errno = 0;
        struct dirent *item = readdir(dir);
        if (!item) break;
        const char *name = item->d_name;
        if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0) continue;
        if (walks > 1 && ++context.copies > copied_entries_limit) stop_fanning_out(context);
        count += walk_entry(context, fd, name, through_link);
    }
    // Entries left unread would be missing without a word.
    if (errno != 0)
        warn_incomplete("WARNING: Could not read all of directory /%s (ignoring the rest)\n", shown_prefix());

    context.ancestors.pop_back();
    context.names.pop_back();
    closedir(dir);
    return count;
}
}  // namespace

int walk_dir(const char *path) {
    walk_context context{};
    return walk_at(context, AT_FDCWD, path, false);
}
