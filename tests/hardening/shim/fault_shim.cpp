// Preloaded into kelto: makes the Nth call of one kind fail as the C
// library would report it, or raise a signal there, or change an input file
// just before it is opened.
//   FAULT_CALL    the kind, e.g. fwrite_output (see kind_names); alloc is
//                 malloc and calloc, realloc is apart
//   FAULT_NTH     which call of that kind, counting from 1
//   FAULT_ACTION  fail (default), signal:NUMBER, or for openat_input one of
//                 shrink, grow, remove, fifo (a pipe in the file's place) and
//                 device (a link to /dev/zero in its place); for fread_input
//                 shrink or grow, the file being read
//   FAULT_COUNTS  a file that receives "kind count" lines at exit
#include <atomic>

#include <dlfcn.h>
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

extern "C" {
void *__libc_malloc(size_t);
void *__libc_calloc(size_t, size_t);
void *__libc_realloc(void *, size_t);
}

namespace {
enum kind {
    alloc,
    realloc_call,
    fopen_output,
    fwrite_output,
    fwrite_temp,
    fflush_output,
    fflush_temp,
    fread_temp,
    fread_input,
    fseek_output,
    ftell_output,
    fclose_output,
    tmpfile_call,
    openat_input,
    openat_dir,
    fdopen_input,
    opendir_call,
    readdir_call,
    fstatat_call,
    fsync_output,
    kind_count
};

const char *const kind_names[kind_count] = {
    "alloc",        "realloc",      "fopen_output", "fwrite_output", "fwrite_temp", "fflush_output", "fflush_temp",
    "fread_temp",   "fread_input",  "fseek_output",  "ftell_output", "fclose_output", "tmpfile",
    "openat_input", "openat_dir", "fdopen_input", "opendir",       "readdir",      "fstatat",
    "fsync_output",
};

// The compression library allocates on worker threads too.
std::atomic<unsigned long> counts[kind_count];
int chosen_kind = -1;
unsigned long chosen_nth;
int signal_action;  // 0: fail
enum { change_none, change_shrink, change_grow, change_remove, change_fifo, change_device } file_change;
bool configured;
// Allocations before main are the loader's and the C++ runtime's.
bool main_started;

FILE *output_stream;
FILE *temp_stream;
FILE *input_stream;

template <typename F>
F real(const char *name) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

void configure(void) {
    if (configured) return;
    configured = true;
    const char *call = getenv("FAULT_CALL");
    const char *nth = getenv("FAULT_NTH");
    const char *action = getenv("FAULT_ACTION");
    if (call && nth) {
        for (int k = 0; k < kind_count; k++)
            if (strcmp(call, kind_names[k]) == 0) chosen_kind = k;
        chosen_nth = strtoul(nth, nullptr, 10);
    }
    if (action && strncmp(action, "signal:", 7) == 0) signal_action = atoi(action + 7);
    if (action && strcmp(action, "shrink") == 0) file_change = change_shrink;
    if (action && strcmp(action, "grow") == 0) file_change = change_grow;
    if (action && strcmp(action, "remove") == 0) file_change = change_remove;
    if (action && strcmp(action, "fifo") == 0) file_change = change_fifo;
    if (action && strcmp(action, "device") == 0) file_change = change_device;
}

// Counts a call; true when this one is to fail.
bool strikes(kind k) {
    if (k == alloc && !main_started) return false;
    if (!configured) configure();
    const unsigned long nth = ++counts[k];
    if (k != chosen_kind || nth != chosen_nth) return false;
    if (signal_action) {
        raise(signal_action);
        return false;
    }
    return file_change == change_none;
}

void set_error(FILE *stream, int error) {
    stream->_flags |= _IO_ERR_SEEN;
    errno = error;
}

struct count_writer {
    ~count_writer() {
        const char *path = getenv("FAULT_COUNTS");
        if (!path) return;
        FILE *out = real<FILE *(*)(const char *, const char *)>("fopen")(path, "w");
        if (!out) return;
        for (int k = 0; k < kind_count; k++) fprintf(out, "%s %lu\n", kind_names[k], counts[k].load());
        fclose(out);
    }
} write_counts_at_exit;

void change_input(int dir, const char *path) {
    int fd = real<int (*)(int, const char *, int, ...)>("openat")(dir, path, O_WRONLY | O_APPEND);
    if (fd < 0) return;
    struct stat status;
    if (fstat(fd, &status) == 0) {
        if (file_change == change_shrink) {
            if (ftruncate(fd, status.st_size / 2) != 0) perror("shim: ftruncate");
        } else if (file_change == change_grow) {
            if (write(fd, "grown after the walk", 20) != 20) perror("shim: write");
        }
    }
    close(fd);
    if (file_change == change_remove || file_change == change_fifo || file_change == change_device)
        unlinkat(dir, path, 0);
    if (file_change == change_fifo) mkfifoat(dir, path, 0644);
    if (file_change == change_device && symlinkat("/dev/zero", dir, path) != 0) perror("shim: symlinkat");
}
}  // namespace

extern "C" {

void *malloc(size_t size) {
    if (strikes(alloc)) {
        errno = ENOMEM;
        return nullptr;
    }
    return __libc_malloc(size);
}

void *calloc(size_t count, size_t size) {
    if (strikes(alloc)) {
        errno = ENOMEM;
        return nullptr;
    }
    return __libc_calloc(count, size);
}

// Counted apart: the growable tables grow through it, a few times a run.
void *realloc(void *old, size_t size) {
    if (strikes(realloc_call)) {
        errno = ENOMEM;
        return nullptr;
    }
    return __libc_realloc(old, size);
}

int stat(const char *path, struct stat *status) {
    main_started = true;
    return real<int (*)(const char *, struct stat *)>("stat")(path, status);
}

FILE *fopen(const char *path, const char *mode) {
    bool writing = mode[0] == 'w';
    if (writing && strikes(fopen_output)) {
        errno = EACCES;
        return nullptr;
    }
    FILE *stream = real<FILE *(*)(const char *, const char *)>("fopen")(path, mode);
    if (writing) output_stream = stream;
    return stream;
}

FILE *tmpfile(void) {
    if (strikes(tmpfile_call)) {
        errno = ENOSPC;
        return nullptr;
    }
    temp_stream = real<FILE *(*)(void)>("tmpfile")();
    return temp_stream;
}

// The output is opened as a descriptor and then as a stream, like the inputs.
FILE *fdopen(int fd, const char *mode) {
    bool writing = mode[0] == 'w';
    if (strikes(writing ? fopen_output : fdopen_input)) {
        errno = ENOMEM;
        return nullptr;
    }
    FILE *stream = real<FILE *(*)(int, const char *)>("fdopen")(fd, mode);
    (writing ? output_stream : input_stream) = stream;
    return stream;
}

int openat(int dir, const char *path, int flags, ...) {
    mode_t mode = 0;
    if (flags & (O_CREAT | O_TMPFILE)) {
        va_list args;
        va_start(args, flags);
        mode = va_arg(args, mode_t);
        va_end(args);
    }
    // The output is created through openat too; its faults are injected at
    // fdopen, as for the other output calls.
    if (flags & O_ACCMODE) return real<int (*)(int, const char *, int, ...)>("openat")(dir, path, flags, mode);
    kind k = flags & O_DIRECTORY ? openat_dir : openat_input;
    if (strikes(k)) {
        errno = EACCES;
        return -1;
    }
    if (k == openat_input && file_change != change_none && chosen_kind == k && counts[k] == chosen_nth)
        change_input(dir, path);
    return real<int (*)(int, const char *, int, ...)>("openat")(dir, path, flags, mode);
}

DIR *fdopendir(int fd) {
    if (strikes(opendir_call)) {
        errno = EMFILE;
        return nullptr;
    }
    return real<DIR *(*)(int)>("fdopendir")(fd);
}

struct dirent *readdir(DIR *dir) {
    if (strikes(readdir_call)) {
        errno = EIO;
        return nullptr;
    }
    return real<struct dirent *(*)(DIR *)>("readdir")(dir);
}

int fstatat(int dir, const char *path, struct stat *status, int flags) {
    if (strikes(fstatat_call)) {
        errno = EIO;
        return -1;
    }
    return real<int (*)(int, const char *, struct stat *, int)>("fstatat")(dir, path, status, flags);
}

size_t fwrite(const void *data, size_t size, size_t count, FILE *stream) {
    kind k = stream == output_stream ? fwrite_output : stream == temp_stream ? fwrite_temp : kind_count;
    if (k != kind_count && strikes(k)) {
        set_error(stream, ENOSPC);
        return 0;
    }
    return real<size_t (*)(const void *, size_t, size_t, FILE *)>("fwrite")(data, size, count, stream);
}

size_t fread(void *data, size_t size, size_t count, FILE *stream) {
    kind k = stream == temp_stream ? fread_temp : stream == input_stream ? fread_input : kind_count;
    if (k != kind_count && strikes(k)) {
        set_error(stream, EIO);
        return 0;
    }
    if (k == fread_input && file_change != change_none && chosen_kind == k && counts[k] == chosen_nth) {
        char path[32];
        snprintf(path, sizeof path, "/proc/self/fd/%d", fileno(stream));
        change_input(AT_FDCWD, path);
    }
    return real<size_t (*)(void *, size_t, size_t, FILE *)>("fread")(data, size, count, stream);
}

int fflush(FILE *stream) {
    kind k = stream && stream == output_stream ? fflush_output
             : stream && stream == temp_stream ? fflush_temp
                                               : kind_count;
    if (k != kind_count && strikes(k)) {
        set_error(stream, ENOSPC);
        return EOF;
    }
    return real<int (*)(FILE *)>("fflush")(stream);
}

int fsync(int fd) {
    if (output_stream && fd == fileno(output_stream) && strikes(fsync_output)) {
        errno = EIO;
        return -1;
    }
    return real<int (*)(int)>("fsync")(fd);
}

int fseek(FILE *stream, long offset, int whence) {
    if (stream == output_stream && strikes(fseek_output)) {
        errno = EIO;
        return -1;
    }
    return real<int (*)(FILE *, long, int)>("fseek")(stream, offset, whence);
}

long ftell(FILE *stream) {
    if (stream == output_stream && strikes(ftell_output)) {
        errno = EIO;
        return -1;
    }
    return real<long (*)(FILE *)>("ftell")(stream);
}

int fclose(FILE *stream) {
    bool fail = stream == output_stream && strikes(fclose_output);
    if (stream == output_stream) output_stream = nullptr;
    if (stream == temp_stream) temp_stream = nullptr;
    if (stream == input_stream) input_stream = nullptr;
    int result = real<int (*)(FILE *)>("fclose")(stream);
    if (fail) {
        errno = EIO;
        return EOF;
    }
    return result;
}
}
