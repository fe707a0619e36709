#include "test_support.h"

#include <chm_lib.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "catalogue/builtin_entries.h"
#include "run/run_state.h"
#include "run/settings.h"
#include "run/shutdown.h"

namespace fs = std::filesystem;

namespace {
std::string temp_base(void) {
    const char *base = getenv("TMPDIR");
    return base && *base ? base : "/tmp";
}

// Everything left to read from fd, up to its end.
std::string read_to_end(int fd) {
    std::string text;
    char buffer[4096];
    ssize_t got;
    while ((got = read(fd, buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR)) {
        if (got > 0) text.append(buffer, static_cast<size_t>(got));
    }
    return text;
}
}  // namespace

void reset_run_for_test(void) {
    release_all();
    run = run_state{};
    settings = default_settings;
    restore_builtin_entries();
}

temp_dir::temp_dir() {
    std::string pattern = temp_base() + "/kelto-test-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!mkdtemp(buffer.data())) {
        ADD_FAILURE() << "mkdtemp failed: " << strerror(errno);
        return;
    }
    path_ = buffer.data();
}

temp_dir::~temp_dir() {
    if (!path_.empty()) remove_tree(path_);
}

void write_file(const std::string &path, const std::string &bytes) {
    fs::path p(path);
    if (p.has_parent_path()) fs::create_directories(p.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) ADD_FAILURE() << "cannot write " << path;
}

std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        ADD_FAILURE() << "cannot read " << path;
        return {};
    }
    std::ostringstream contents;
    contents << in.rdbuf();
    return contents.str();
}

bool path_exists(const std::string &path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

void remove_tree(const std::string &path) {
    std::error_code ec;
    // Make every directory searchable and writable again so that its
    // contents can go; links are not followed.
    if (fs::is_directory(fs::symlink_status(path, ec))) {
        chmod(path.c_str(), 0700);
        for (auto it = fs::recursive_directory_iterator(path, fs::directory_options::skip_permission_denied, ec);
             it != fs::recursive_directory_iterator(); it.increment(ec)) {
            if (ec) break;
            if (it->is_directory(ec) && !it->is_symlink(ec)) chmod(it->path().c_str(), 0700);
        }
    }
    fs::remove_all(path, ec);
}

process_result run_process(const std::vector<std::string> &argv, const std::string &cwd, int timeout_seconds) {
    process_result result{-1, {}};
    int pipe_fds[2];
    if (pipe(pipe_fds) != 0) {
        ADD_FAILURE() << "pipe failed";
        return result;
    }
    pid_t pid = fork();
    if (pid < 0) {
        ADD_FAILURE() << "fork failed";
        return result;
    }
    if (pid == 0) {
        dup2(pipe_fds[1], STDOUT_FILENO);
        dup2(pipe_fds[1], STDERR_FILENO);
        close(pipe_fds[0]);
        close(pipe_fds[1]);
        if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
        alarm(static_cast<unsigned>(timeout_seconds));
        std::vector<char *> args;
        for (const std::string &arg : argv) args.push_back(const_cast<char *>(arg.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    close(pipe_fds[1]);
    result.output = read_to_end(pipe_fds[0]);
    close(pipe_fds[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
    else if (WIFSIGNALED(status)) result.status = 128 + WTERMSIG(status);
    return result;
}

std::string chmlib_retrieve(chmFile *reader, chmUnitInfo &unit) {
    std::string bytes(unit.length, '\0');
    uint64_t got = 0;
    while (got < unit.length) {
        LONGINT64 n = chm_retrieve_object(reader, &unit, reinterpret_cast<unsigned char *>(&bytes[got]), got,
                                          static_cast<LONGINT64>(unit.length - got));
        if (n <= 0) break;
        got += static_cast<uint64_t>(n);
    }
    bytes.resize(got);
    return bytes;
}

process_result run_kelto(const std::vector<std::string> &args, const std::string &cwd) {
    std::vector<std::string> argv{KELTO_BINARY};
    argv.insert(argv.end(), args.begin(), args.end());
    return run_process(argv, cwd);
}

stdout_capture::stdout_capture() {
    std::string pattern = temp_base() + "/kelto-stdout-XXXXXX";
    file_ = mkstemp(pattern.data());
    if (file_ < 0) {
        ADD_FAILURE() << "cannot create " << pattern << ": " << strerror(errno);
        return;
    }
    unlink(pattern.c_str());
    // What is buffered so far belongs to the real standard output.
    fflush(stdout);
    saved_ = dup(STDOUT_FILENO);
    if (saved_ < 0 || dup2(file_, STDOUT_FILENO) < 0) {
        ADD_FAILURE() << "cannot redirect standard output: " << strerror(errno);
        restore();
    }
}

stdout_capture::~stdout_capture() {
    restore();
    if (file_ >= 0) close(file_);
}

void stdout_capture::restore() {
    if (saved_ < 0) return;
    fflush(stdout);
    dup2(saved_, STDOUT_FILENO);
    close(saved_);
    saved_ = -1;
}

std::string stdout_capture::finish() {
    restore();
    if (file_ < 0) return {};
    std::string text;
    if (lseek(file_, 0, SEEK_SET) == 0) text = read_to_end(file_);
    else ADD_FAILURE() << "cannot read back standard output: " << strerror(errno);
    close(file_);
    file_ = -1;
    return text;
}
