#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "compress/compress_callbacks.h"
#include "run/fatal.h"
#include "run/open_without_waiting.h"
#include "run/run_state.h"
#include "run/terminal_output.h"

namespace {
// Files are opened relative to this descriptor, so the working directory
// never changes whatever form the input path has.
int input_dir = -1;

// The file being read as it was when opened: it is read up to that size,
// so that a file that keeps growing (a log being written) does not take
// the run with it.
struct stat opened;

// Flattened names keep the file's real path beside the internal name.
const char *source_name(const its_entry *entry) {
    return entry->source_path ? entry->source_path : entry->name + 1;
}

const char *shown(const its_entry *entry) { return shown_name(entry->name + 1); }

// Opens path one directory at a time. One lookup of a whole path follows
// at most 40 symbolic links, and a path that goes round a link loop, which
// the walk entered one level at a time, may pass more; with flattened
// names the path may also be longer than one lookup takes.
int open_step_by_step(const char *path) {
    int dir = input_dir;
    const char *at = path;
    const char *slash;
    while ((slash = strchr(at, '/')) != nullptr) {
        char component[NAME_MAX + 1];
        size_t length = static_cast<size_t>(slash - at);
        int next = -1;
        if (length <= NAME_MAX) {
            memcpy(component, at, length);
            component[length] = '\0';
            next = openat(dir, component, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        }
        if (dir != input_dir) close(dir);
        if (next < 0) return -1;
        dir = next;
        at = slash + 1;
    }
    int fd = open_without_waiting(dir, at, O_RDONLY, 0);
    if (dir != input_dir) close(dir);
    return fd;
}

// Null when the file cannot be opened or examined, and then not_regular tells
// whether it was opened but is now a pipe or a device. Else status is the
// open file's.
FILE *open_input_file(const char *path, bool &not_regular, struct stat &status) {
    not_regular = false;
    // Opening a FIFO that appeared after the walk does not wait for a writer.
    int fd = open_without_waiting(input_dir, path, O_RDONLY, 0);
    if (fd < 0 && (errno == ELOOP || errno == ENAMETOOLONG)) fd = open_step_by_step(path);
    if (fd < 0) return nullptr;
    // The walk took only regular files, but the name may since lead to a
    // pipe or a device: reading one could block for ever or never end
    // (/dev/zero). A directory fails at its first read.
    const bool examined = fstat(fd, &status) == 0;
    if (!examined || !(S_ISREG(status.st_mode) || S_ISDIR(status.st_mode))) {
        not_regular = examined;
        close(fd);
        return nullptr;
    }
    FILE *file = fdopen(fd, "rb");
    if (!file) close(fd);
    return file;
}

// Takes the entry out of the stream: it names no bytes.
void leave_out(its_entry *entry) {
    entry->section = 0;
    entry->offset = 0;
    entry->length = 0;
}

// Contents held in memory are read through a stream of their own, like a
// file's, but announce no progress: nothing is read from the input.
FILE *open_entry(const its_entry *entry, bool &not_regular) {
    if (!entry->memory) return open_input_file(source_name(entry), not_regular, opened);
    not_regular = false;
    opened = {};
    opened.st_mode = S_IFREG;
    opened.st_size = entry->memory_length;
    return fmemopen(const_cast<uint8_t *>(entry->memory), entry->memory_length, "rb");
}

// Opens the entry's file and starts its progress line; false when it
// cannot be opened, after the entry has been taken out of the stream.
bool start_file(its_entry *entry) {
    bool not_regular;
    if (run.observer.start) run.observer.start(run.observer.context, entry);
    run.input_file = open_entry(entry, not_regular);
    if (!run.input_file) {
        if (run.observer.end) run.observer.end(run.observer.context, entry);
        leave_out(entry);
        if (not_regular) {
            printf("WARNING: No longer a regular file: %s (stored empty)\n", shown(entry));
        } else {
            printf("ERROR: Failed opening %s\n", shown(entry));
            run.incomplete_entries++;
        }
        return false;
    }
    if (!entry->memory) printf("Reading %s ... ", shown(entry));
    run.file_bytes = 0;
    entry->offset = run.total_bytes;
    return true;
}

// Whether the file was written to while it was read: it was cut short of
// its size at open, or its size or time of change moved since.
bool changed_while_read(void) {
    if (run.file_bytes != static_cast<uint64_t>(opened.st_size)) return true;
    struct stat now;
    return fstat(fileno(run.input_file), &now) != 0 || now.st_size != opened.st_size ||
           now.st_mtim.tv_sec != opened.st_mtim.tv_sec || now.st_mtim.tv_nsec != opened.st_mtim.tv_nsec;
}

// A short read ends the file. After a read error the entry names nothing:
// a part of a file would pass for the whole of it. A file that changed is
// kept as read, which may mix its old and new bytes, and named.
void finish_file(its_entry *entry) {
    // A directory of size 0 is never read, and so never fails a read.
    if (ferror(run.input_file) || S_ISDIR(opened.st_mode)) {
        printf("ERROR: Failed reading %s\n", shown(entry));
        run.incomplete_entries++;
        leave_out(entry);
    } else {
        // Memory announced nothing and does not change.
        if (!entry->memory && changed_while_read()) {
            printf("WARNING: %s changed while it was read (stored as read)\n", shown(entry));
            run.incomplete_entries++;
        } else if (!entry->memory) {
            printf("done\n");
        }
        entry->length = run.file_bytes;
        if (run.file_bytes == 0) leave_out(entry);
    }
    fclose(run.input_file);
    run.input_file = nullptr;
    if (run.observer.end) run.observer.end(run.observer.context, entry);
}

uint64_t stream_length(void) { return run.stream_order ? run.stream_count : run.entry_table.count; }
its_entry *stream_entry(uint64_t i) { return run.stream_order ? run.stream_order[i] : run.entry_table.entries[i]; }

// Offsets and lengths are 32-bit; a file that grew after the walk measured
// it could still carry the stream past them.
void check_stream_size(size_t more) {
    if (more > UINT32_MAX - run.total_bytes)
        end_run("ERROR: The input files add up to 4 GiB or more; an ITS file holds less than 4 GiB\n");
}
}  // namespace

void open_input_dir(const char *path) {
    close_input_dir();
    if (path) input_dir = open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

void close_input_dir(void) {
    if (input_dir >= 0) close(input_dir);
    input_dir = -1;
}

int feed_input(void *, int n, void *buf) {
    if (n <= 0) return 0;
    char *out = static_cast<char *>(buf);
    size_t wanted = static_cast<size_t>(n);
    size_t placed = 0;
    while (run.current_index < stream_length()) {
        its_entry *entry = stream_entry(run.current_index);
        if (entry->section != 0 && (run.input_file || start_file(entry))) {
            size_t room = wanted - placed;
            uint64_t left = static_cast<uint64_t>(opened.st_size) - run.file_bytes;
            size_t asked = left < room ? static_cast<size_t>(left) : room;
            size_t got = asked ? fread(out + placed, 1, asked, run.input_file) : 0;
            check_stream_size(got);
            if (got && run.observer.bytes) run.observer.bytes(run.observer.context, entry, out + placed, got);
            placed += got;
            run.file_bytes += static_cast<uint32_t>(got);
            run.total_bytes += static_cast<uint32_t>(got);
            // The file stays open even at its last byte; the next request
            // finds its end.
            if (placed >= wanted) return static_cast<int>(placed);
            finish_file(entry);
        }
        run.current_index++;
    }
    return static_cast<int>(placed);
}

int input_exhausted(void *) {
    if (stream_length() == 0) return 1;
    if (run.current_index < stream_length()) return 0;
    if (!run.input_file) return 1;
    return feof(run.input_file) ? 1 : 0;
}
