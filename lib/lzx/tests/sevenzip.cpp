#include "sevenzip.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

extern char **environ;

namespace lzx_test {

namespace {

// Runs argv with its output discarded; returns the exit status or -1.
int run_quietly(std::vector<std::string> args) {
    std::vector<char *> argv;
    for (std::string &a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid;
    int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return -1;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

}  // namespace

bool decode_with_7zip(const std::vector<uint8_t> &its, std::vector<uint8_t> &out, std::string &error) {
    namespace fs = std::filesystem;
    std::string pattern = (fs::temp_directory_path() / "lzx7z.XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
        error = "no temporary directory";
        return false;
    }
    fs::path dir = pattern;
    {
        std::ofstream f(dir / "in.its", std::ios::binary);
        f.write(reinterpret_cast<const char *>(its.data()), std::streamsize(its.size()));
    }
    int status = run_quietly({SEVENZIP_EXECUTABLE, "x", "-y", "-o" + (dir / "out").string(), (dir / "in.its").string()});
    bool ok = false;
    if (status != 0) {
        error = "7zz exit status " + std::to_string(status);
    } else {
        std::ifstream f(dir / "out" / "data", std::ios::binary);
        if (!f) {
            error = "7zz extracted no data file";
        } else {
            out.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
            ok = true;
        }
    }
    std::error_code ignored;
    fs::remove_all(dir, ignored);
    return ok;
}

}  // namespace lzx_test
