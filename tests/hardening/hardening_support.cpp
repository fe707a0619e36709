#include "hardening_support.h"

#include <chm_lib.h>
#include <mspack.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {
const int default_signals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGXFSZ, SIGALRM};

// Text-like bytes with some noise, the same for the same seed.
std::string sample_text(size_t length, uint32_t seed, bool noisy) {
    static const char *const words[] = {"<p>", "the ", "kelto ", "</div>\n", "frame ", "data ", "=\"x\" ", "ITSF "};
    std::string bytes;
    uint32_t state = seed * 2654435761u + 11;
    while (bytes.size() < length) {
        state = state * 1664525u + 1013904223u;
        if (noisy && (state >> 29) < 5) bytes += static_cast<char>(state >> 11);
        else bytes += words[(state >> 13) & 7];
    }
    bytes.resize(length);
    return bytes;
}

std::vector<std::string> lines_of(const std::string &text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// Whether a warning of the run names the file, or a directory above it, as
// left out.
bool left_out_with_warning(const std::string &output, const std::string &relative) {
    std::vector<std::string> ancestors;
    for (size_t slash = relative.find('/'); slash != std::string::npos; slash = relative.find('/', slash + 1))
        ancestors.push_back(relative.substr(0, slash));
    for (const std::string &line : lines_of(output)) {
        if (line.find("WARNING: ") == std::string::npos) continue;
        if (line.find(relative) != std::string::npos) return true;
        if (line.find("directory / (") != std::string::npos || line.find("was empty") != std::string::npos) return true;
        for (const std::string &dir : ancestors) {
            if (line.find(" " + dir + " ") != std::string::npos || line.find(dir + "/") != std::string::npos)
                return true;
        }
    }
    return false;
}

// Entries the container lacks in part or whole, which end the run with 1.
const char *const incomplete_messages[] = {"ERROR: Failed opening ",      "ERROR: Failed reading ",
                                           "WARNING: Could not stat ",    "WARNING: Could not open directory ",
                                           "WARNING: Could not add ",     "WARNING: Could not realloc prefix ",
                                           "WARNING: Could not read all of directory ", " changed while it was read "};

bool reported_unreadable(const std::string &output, const std::string &relative) {
    return output.find("ERROR: Failed opening " + relative + "\n") != std::string::npos ||
           output.find("ERROR: Failed reading " + relative + "\n") != std::string::npos;
}

// A file that changed while it was read is stored as far as it was read:
// the start of what it holds now, if it grew.
bool changed_while_read(const std::string &output, const std::string &relative) {
    return output.find(relative + " changed while it was read ") != std::string::npos;
}

// What chmlib gives back for the file, which libmspack has already read
// right: a word when it differs.
std::string check_with_chmlib(chmFile *chm, const std::string &name, const std::string &expected) {
    chmUnitInfo unit{};
    if (!chm) return name + ": chmlib cannot open the container; ";
    if (chm_resolve_object(chm, name.c_str(), &unit) != CHM_RESOLVE_SUCCESS)
        return name + ": chmlib finds no such name; ";
    return chmlib_retrieve(chm, unit) == expected ? "" : name + ": chmlib's bytes differ; ";
}

std::string check_container(const std::string &dir, const std::string &its, const std::string &output) {
    mschm_decompressor *reader = mspack_create_chm_decompressor(nullptr);
    if (!reader) return "libmspack reader not created";
    mschmd_header *header = reader->fast_open(reader, its.c_str());
    if (!header) {
        mspack_destroy_chm_decompressor(reader);
        return "libmspack cannot open the container";
    }
    // Not beside the container: that file system may be the one that is full.
    const char *scratch = getenv("TMPDIR");
    std::string extracted = std::string(scratch && *scratch ? scratch : "/tmp") + "/kelto-extracted-" +
                            std::to_string(getpid());
    std::string wrong;
    chmFile *chm = chm_open(its.c_str());
    size_t prefix = dir.size() + 1;
    for (auto it = fs::recursive_directory_iterator(dir); it != fs::recursive_directory_iterator(); ++it) {
        if (!it->is_regular_file()) continue;
        std::string relative = it->path().string().substr(prefix);
        std::string name = "/" + relative;
        mschmd_file file{};
        bool found = reader->fast_find(reader, header, name.c_str(), &file, sizeof file) == MSPACK_ERR_OK && file.section;
        if (!found) {
            if (!left_out_with_warning(output, relative)) wrong += name + ": missing without a warning; ";
            continue;
        }
        if (reported_unreadable(output, relative)) {
            if (file.length != 0) wrong += name + ": reported unreadable but has content; ";
            continue;
        }
        const std::string expected = read_file(it->path().string());
        if (reader->extract(reader, &file, extracted.c_str()) != MSPACK_ERR_OK) {
            wrong += name + ": libmspack cannot extract it; ";
            continue;
        }
        const std::string stored = read_file(extracted);
        if (changed_while_read(output, relative) ? expected.rfind(stored, 0) != 0 : stored != expected) {
            wrong += name + ": extracted bytes differ; ";
        } else {
            wrong += check_with_chmlib(chm, name, stored);
        }
        if (wrong.size() > 2000) break;
    }
    remove(extracted.c_str());
    if (chm) chm_close(chm);
    reader->close(reader, header);
    mspack_destroy_chm_decompressor(reader);
    return wrong;
}
}  // namespace

bool fault_shim_usable(void) { return !KELTO_SANITIZED; }

std::string unfinished_output(const std::string &dir) {
    std::string prefix = "." + fs::path(dir).filename().string() + ".its.";
    for (const auto &item : fs::directory_iterator(fs::path(dir).parent_path()))
        if (item.path().filename().string().rfind(prefix, 0) == 0) return item.path();
    return "";
}

int make_sample_tree(const std::string &root, int files) {
    static const char *const dirs[] = {"", "alpha/", "beta/", "beta/deep/", "Gamma/", "delta/"};
    for (int i = 0; i < files; i++) {
        size_t length = i % 11 == 0 ? 0 : static_cast<size_t>((i * 7919) % 1400);
        std::string name = std::string(dirs[i % 6]) + "page-" + std::to_string(i) + (i % 3 ? ".htm" : ".CSS");
        write_file(root + "/" + name, sample_text(length, static_cast<uint32_t>(i), i % 5 == 0));
    }
    write_file(root + "/beta/deep/large.bin", sample_text(70000, 7, true));
    write_file(root + "/zz-large.txt", sample_text(50000, 8, false));
    return files + 2;
}

kelto_child start_kelto(const std::string &dir, const std::vector<std::string> &env) {
    kelto_child child;
    int fds[2];
    if (pipe(fds) != 0) {
        ADD_FAILURE() << "pipe failed";
        return child;
    }
    child.pid = fork();
    if (child.pid == 0) {
        dup2(fds[1], STDOUT_FILENO);
        dup2(fds[1], STDERR_FILENO);
        close(fds[0]);
        close(fds[1]);
        // Whoever started the tests may have ignored or blocked some.
        for (int signal_number : default_signals) signal(signal_number, SIG_DFL);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        for (const std::string &entry : env) putenv(strdup(entry.c_str()));
        alarm(60);
        execl(KELTO_BINARY, KELTO_BINARY, dir.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    if (child.pid < 0) {
        ADD_FAILURE() << "fork failed";
        close(fds[0]);
        return child;
    }
    child.output_fd = fds[0];
    return child;
}

bool wait_for_output(const kelto_child &child, const std::string &text, std::string &seen) {
    char buffer[4096];
    while (seen.find(text) == std::string::npos) {
        ssize_t got = read(child.output_fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        seen.append(buffer, static_cast<size_t>(got));
    }
    return true;
}

process_result finish_kelto(const kelto_child &child, std::string seen, int) {
    process_result result{-1, std::move(seen)};
    if (child.pid < 0) return result;
    char buffer[4096];
    ssize_t got;
    while ((got = read(child.output_fd, buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR)) {
        if (got > 0) result.output.append(buffer, static_cast<size_t>(got));
    }
    close(child.output_fd);
    int status = 0;
    while (waitpid(child.pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
    else if (WIFSIGNALED(status)) result.status = 128 + WTERMSIG(status);
    return result;
}

process_result run_with_fault(const std::string &dir, const std::string &kind, unsigned long nth,
                              const std::string &action) {
    remove((dir + ".its").c_str());
    kelto_child child = start_kelto(dir, {"LD_PRELOAD=" KELTO_FAULT_SHIM, "FAULT_CALL=" + kind,
                                          "FAULT_NTH=" + std::to_string(nth), "FAULT_ACTION=" + action});
    return finish_kelto(child, "");
}

std::map<std::string, unsigned long> count_calls(const std::string &dir) {
    std::string counts_path = dir + ".counts";
    kelto_child child = start_kelto(dir, {"LD_PRELOAD=" KELTO_FAULT_SHIM, "FAULT_COUNTS=" + counts_path});
    process_result result = finish_kelto(child, "");
    EXPECT_EQ(result.status, 0) << result.output.substr(0, 2000);
    std::map<std::string, unsigned long> counts;
    std::istringstream in(read_file(counts_path));
    std::string kind;
    unsigned long count;
    while (in >> kind >> count) counts[kind] = count;
    remove(counts_path.c_str());
    remove((dir + ".its").c_str());
    return counts;
}

std::string judge_outcome(const std::string &dir, const process_result &result) {
    std::string its = dir + ".its";
    if (!unfinished_output(dir).empty()) return "an unfinished output is left";
    if (result.status != 0 && result.status != 1) {
        if (result.status != 255) return "status " + std::to_string(result.status);
        if (path_exists(its)) return "status 255 but the .its file is left";
        if (result.output.find("ERROR: ") == std::string::npos) return "status 255 without an error message";
        return "";
    }
    for (const std::string message : incomplete_messages)
        if (result.status != 1 && result.output.find(message) != std::string::npos) return "status 0 after " + message;
    size_t count = result.output.rfind("\nERROR: Could not read all of the input: ");
    bool count_last = count != std::string::npos && result.output.find('\n', count + 1) + 1 == result.output.size();
    if (result.status == 1 && !count_last) return "status 1 without the count of incomplete entries as the last line";
    if (!path_exists(its)) return "status " + std::to_string(result.status) + " without an .its file";
    return check_container(dir, its, result.output);
}

std::string judge_signalled(const std::string &dir, const process_result &result, int signal_number) {
    std::string its = dir + ".its";
    if (result.status == 128 + signal_number)
        return path_exists(its) || !unfinished_output(dir).empty() ? "ended by the signal, an output left" : "";
    if (result.status != 0) return "status " + std::to_string(result.status);
    if (!path_exists(its)) return "status 0 without an .its file";
    return check_container(dir, its, result.output);
}
