// How the run scales with the number of entries. Generates trees of up to a
// million entries (flat, a grid of directories, deep chains; empty or small
// files), runs the steps of the tool in the order main runs them with a
// clock around each phase, and runs the tool itself for its peak memory.
// Every figure is per entry, so a phase that grows faster than linearly
// shows as a column that climbs with the size.
//
//   huge_trees [--kelto=PATH] [MAX_ENTRIES [SHAPE...]]
//
// MAX_ENTRIES defaults to 1000000 and SHAPE to every shape; PATH to the
// kelto built beside this program.
//
// Trees go to /dev/shm when it has room (a million files take a million
// inodes), else to TMPDIR; they are removed afterwards. Each case runs in a
// child process of its own so that peak-memory figures do not carry over.
#include <fcntl.h>
#include <ftw.h>
#include <sys/resource.h>
#include <sys/statvfs.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "compress/compress_pass.h"
#include "container/container_writer.h"
#include "container/directory.h"
#include "run/run_state.h"
#include "run/run_steps.h"
#include "run/settings.h"
#include "run/shutdown.h"

namespace {
const char *kelto_binary = KELTO_BINARY;
const char *const all_shapes[] = {"flat-empty", "flat-small", "grid-empty", "grid-small", "deep-empty", "deep-small"};

// Chains of nested one-letter directories, each level holding a few files:
// internal names reach some 210 bytes, well inside the 255-byte limit.
constexpr int chain_depth = 100;
constexpr int files_per_level = 9;

struct phase_figures {
    double walk, sort, compress, directory, container, release;  // seconds
    long rss_walk, rss_sort, rss_compress, rss_container;        // peak KiB after each phase
    long rss_start;
    uint64_t entries;
};

struct case_figures {
    phase_figures phases;
    double tool_seconds;
    long tool_rss;  // KiB
    uint64_t its_hash;
};

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

long peak_rss_kib(void) {
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

[[noreturn]] void fail(const char *what, const std::string &detail) {
    fprintf(stderr, "huge_trees: %s %s: %s\n", what, detail.c_str(), strerror(errno));
    exit(2);
}

// Small files: 0 to 200 bytes of text-like bytes from a fixed pseudo-random
// source, so that every run makes the same tree.
struct content_source {
    std::string text;
    uint64_t state = 0x9E3779B97F4A7C15ull;
    content_source() {
        const char *words[] = {"<p>", "</p>\n", "the ", "function ", "returns ", "<a href=\"", ".html\">", "</a>",
                               "value ", "class ", "module ", "  ", "\n", "index ", "page "};
        while (text.size() < 65536) text += words[next() % (sizeof words / sizeof *words)];
    }
    uint64_t next(void) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    }
};

void make_file(int dir_fd, const char *name, bool small, content_source &source) {
    int fd = openat(dir_fd, name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) fail("cannot create", name);
    if (small) {
        size_t size = source.next() % 201;
        size_t start = source.next() % (source.text.size() - 200);
        if (write(fd, source.text.data() + start, size) != static_cast<ssize_t>(size)) fail("cannot write", name);
    }
    close(fd);
}

int make_dir(int parent_fd, const char *name) {
    if (mkdirat(parent_fd, name, 0755) != 0) fail("cannot make", name);
    int fd = openat(parent_fd, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) fail("cannot open", name);
    return fd;
}

// Makes about `entries` entries (files and directories) below root.
void generate(const std::string &root, const std::string &shape, uint64_t entries) {
    bool small = shape.ends_with("small");
    content_source source;
    int root_fd = make_dir(AT_FDCWD, root.c_str());
    char name[32];
    if (shape.starts_with("flat")) {
        for (uint64_t i = 0; i < entries; i++) {
            snprintf(name, sizeof name, "page%07llu.htm", static_cast<unsigned long long>(i));
            make_file(root_fd, name, small, source);
        }
    } else if (shape.starts_with("grid")) {
        uint64_t dirs = 1;
        while ((dirs + 1) * (dirs + 1) <= entries) dirs++;
        for (uint64_t d = 0; d < dirs; d++) {
            snprintf(name, sizeof name, "dir%04llu", static_cast<unsigned long long>(d));
            int dir_fd = make_dir(root_fd, name);
            for (uint64_t f = 0; f + 1 < dirs; f++) {
                snprintf(name, sizeof name, "f%05llu.htm", static_cast<unsigned long long>(f));
                make_file(dir_fd, name, small, source);
            }
            close(dir_fd);
        }
    } else {
        uint64_t per_chain = chain_depth * (files_per_level + 1) + 1;
        uint64_t chains = entries / per_chain > 0 ? entries / per_chain : 1;
        for (uint64_t c = 0; c < chains; c++) {
            snprintf(name, sizeof name, "c%04llu", static_cast<unsigned long long>(c));
            int dir_fd = make_dir(root_fd, name);
            for (int level = 0; level < chain_depth; level++) {
                for (int f = 0; f < files_per_level; f++) {
                    snprintf(name, sizeof name, "f%d", f);
                    make_file(dir_fd, name, small, source);
                }
                int below = make_dir(dir_fd, "d");
                close(dir_fd);
                dir_fd = below;
            }
            close(dir_fd);
        }
    }
    close(root_fd);
}

int remove_one(const char *path, const struct stat *, int, struct FTW *) { return remove(path); }

void remove_tree(const std::string &root) { nftw(root.c_str(), remove_one, 64, FTW_DEPTH | FTW_PHYS); }

uint64_t hash_file(const std::string &path) {
    FILE *file = fopen(path.c_str(), "rb");
    if (!file) return 0;
    uint64_t hash = 0xCBF29CE484222325ull;
    unsigned char buffer[1 << 16];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, file)) > 0)
        for (size_t i = 0; i < got; i++) hash = (hash ^ buffer[i]) * 0x100000001B3ull;
    fclose(file);
    return hash;
}

// The steps of main, in main's order, each phase timed.
phase_figures run_phases(const std::string &root) {
    phase_figures figures{};
    std::string input = root;
    run.input_path = input.data();
    if (derive_settings() != 0) exit(3);
    figures.rss_start = peak_rss_kib();

    auto start = std::chrono::steady_clock::now();
    if (walk_input() != 0) exit(3);
    figures.walk = seconds_since(start);
    figures.rss_walk = peak_rss_kib();
    figures.entries = run.entry_table.count;

    start = std::chrono::steady_clock::now();
    sort_catalogue();
    figures.sort = seconds_since(start);
    figures.rss_sort = peak_rss_kib();

    if (check_input_size() != 0 || name_output() != 0 || open_output() != 0) exit(3);
    start = std::chrono::steady_clock::now();
    compress_content();
    figures.compress = seconds_since(start);
    figures.rss_compress = peak_rss_kib();

    // The directory build on its own, into a scratch stream; the container
    // writer below builds it again as part of the whole file.
    FILE *output = run.output_file;
    run.output_file = tmpfile();
    start = std::chrono::steady_clock::now();
    build_directory();
    fflush(run.output_file);
    figures.directory = seconds_since(start);
    fclose(run.output_file);
    run.output_file = output;

    start = std::chrono::steady_clock::now();
    write_container();
    finish_output();
    figures.container = seconds_since(start);
    figures.rss_container = peak_rss_kib();

    start = std::chrono::steady_clock::now();
    release_all();
    figures.release = seconds_since(start);
    return figures;
}

// Runs the phases in a child, its standard output (a million progress
// lines) thrown away as a redirected run would buffer it.
phase_figures run_phases_in_child(const std::string &root) {
    int channel[2];
    if (pipe(channel) != 0) fail("cannot make", "a pipe");
    fflush(stdout);
    pid_t child = fork();
    if (child == 0) {
        close(channel[0]);
        if (!freopen("/dev/null", "w", stdout)) _exit(3);
        phase_figures figures = run_phases(root);
        fflush(stdout);
        if (write(channel[1], &figures, sizeof figures) != sizeof figures) _exit(3);
        _exit(0);
    }
    close(channel[1]);
    phase_figures figures{};
    ssize_t got = read(channel[0], &figures, sizeof figures);
    close(channel[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (got != sizeof figures || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        fprintf(stderr, "huge_trees: the run's steps failed on %s\n", root.c_str());
        exit(2);
    }
    return figures;
}

// The tool itself, as a user runs it: wall time and peak RSS.
void run_tool(const std::string &root, double *seconds, long *rss_kib) {
    auto start = std::chrono::steady_clock::now();
    pid_t child = fork();
    if (child == 0) {
        int null_fd = open("/dev/null", O_WRONLY);
        dup2(null_fd, 1);
        execl(kelto_binary, "kelto", root.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    int status = 0;
    struct rusage usage;
    wait4(child, &status, 0, &usage);
    *seconds = seconds_since(start);
    *rss_kib = usage.ru_maxrss;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        fprintf(stderr, "huge_trees: kelto failed on %s\n", root.c_str());
        exit(2);
    }
}

std::string work_directory(void) {
    struct statvfs fs;
    // A million small files take some 4 GB of pages and a million inodes.
    if (statvfs("/dev/shm", &fs) == 0 && access("/dev/shm", W_OK) == 0 &&
        static_cast<uint64_t>(fs.f_bavail) * fs.f_frsize >= (6ull << 30) && fs.f_favail >= 1200000)
        return "/dev/shm";
    const char *tmp = getenv("TMPDIR");
    return tmp ? tmp : "/tmp";
}

// Other work on the machine shows in every wall time: print it beside them.
double load_average(void) {
    double load = 0;
    FILE *file = fopen("/proc/loadavg", "r");
    if (file) {
        if (fscanf(file, "%lf", &load) != 1) load = 0;
        fclose(file);
    }
    return load;
}

double per_entry_us(double seconds, uint64_t entries) { return seconds * 1e6 / static_cast<double>(entries); }

double bytes_per_entry(long kib, long base_kib, uint64_t entries) {
    return static_cast<double>(kib - base_kib) * 1024.0 / static_cast<double>(entries);
}

void print_header(void) {
    printf("%-11s %8s | %34s | %8s %7s %7s %7s %7s | %7s %7s | %7s %7s | %4s | %s\n", "shape", "entries",
           "phase (s): walk/sort/compr/dir/release", "walk", "sort", "compr", "dir", "contnr", "tool", "tool",
           "steps", "tool", "load", "its hash");
    printf("%-11s %8s | %34s | %8s %7s %7s %7s %7s | %7s %7s | %7s %7s | %4s |\n", "", "", "", "us/ent", "us/ent",
           "us/ent", "us/ent", "us/ent", "s", "us/ent", "B/ent", "B/ent", "1min");
}

void print_case(const std::string &shape, const case_figures &c, long empty_tool_rss) {
    const phase_figures &p = c.phases;
    char phases[80];
    snprintf(phases, sizeof phases, "%.2f/%.2f/%.2f/%.2f/%.2f", p.walk, p.sort, p.compress, p.directory, p.release);
    printf("%-11s %8llu | %34s | %8.2f %7.2f %7.2f %7.2f %7.2f | %7.2f %7.2f | %7.0f %7.0f | %4.1f | %016llx\n",
           shape.c_str(), static_cast<unsigned long long>(p.entries), phases, per_entry_us(p.walk, p.entries),
           per_entry_us(p.sort, p.entries), per_entry_us(p.compress, p.entries),
           per_entry_us(p.directory, p.entries), per_entry_us(p.container, p.entries), c.tool_seconds,
           per_entry_us(c.tool_seconds, p.entries), bytes_per_entry(p.rss_container, p.rss_start, p.entries),
           bytes_per_entry(c.tool_rss, empty_tool_rss, p.entries), load_average(),
           static_cast<unsigned long long>(c.its_hash));
    fflush(stdout);
}
}  // namespace

int main(int argc, char **argv) {
    int first = 1;
    if (argc > first && strncmp(argv[first], "--kelto=", 8) == 0) kelto_binary = argv[first++] + 8;
    uint64_t most = argc > first ? strtoull(argv[first], nullptr, 10) : 1000000;
    std::vector<std::string> shapes;
    for (int i = first + 1; i < argc; i++) shapes.push_back(argv[i]);
    if (shapes.empty()) shapes.assign(std::begin(all_shapes), std::end(all_shapes));

    std::string base = work_directory() + "/kelto-huge-" + std::to_string(getpid());
    if (mkdir(base.c_str(), 0755) != 0) fail("cannot make", base);
    printf("trees in %s; phase times from the run's steps in one process, tool figures from whole runs of\n"
           "%s; B/ent is peak RSS above an empty run's, per entry\n",
           base.c_str(), kelto_binary);

    // The tool's own footprint on an empty tree, taken off every figure.
    std::string empty = base + "/empty";
    generate(empty, "flat-empty", 0);
    double empty_seconds;
    long empty_tool_rss;
    run_tool(empty, &empty_seconds, &empty_tool_rss);
    remove_tree(empty);
    remove((empty + ".its").c_str());
    printf("empty tree: kelto %.3f s, peak RSS %ld KiB\n", empty_seconds, empty_tool_rss);
    print_header();

    for (const std::string &shape : shapes) {
        for (uint64_t entries = 10000; entries <= most; entries *= 10) {
            std::string root = base + "/" + shape;
            generate(root, shape, entries);
            case_figures figures{};
            figures.phases = run_phases_in_child(root);
            std::string its = root + ".its";
            uint64_t from_steps = hash_file(its);
            remove(its.c_str());
            run_tool(root, &figures.tool_seconds, &figures.tool_rss);
            figures.its_hash = hash_file(its);
            if (figures.its_hash != from_steps) fprintf(stderr, "huge_trees: the steps and the tool differ\n");
            remove(its.c_str());
            remove_tree(root);
            print_case(shape, figures, empty_tool_rss);
        }
    }
    rmdir(base.c_str());
    return 0;
}
