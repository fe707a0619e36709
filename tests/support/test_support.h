// Helpers shared by the tool's tests.
#pragma once
#include <string>
#include <vector>

// Puts settings, built-in entries and run state back to their start values,
// releasing whatever an earlier test left.
void reset_run_for_test(void);

// A fresh directory under the system's temporary directory, removed with
// everything in it (permissions restored first) when the object goes.
class temp_dir {
  public:
    temp_dir();
    ~temp_dir();
    temp_dir(const temp_dir &) = delete;
    temp_dir &operator=(const temp_dir &) = delete;
    const std::string &path() const { return path_; }
    // path() + "/" + relative
    std::string operator/(const std::string &relative) const { return path_ + "/" + relative; }

  private:
    std::string path_;
};

// Creates the file (and its missing parent directories) with these bytes.
void write_file(const std::string &path, const std::string &bytes);
// Whole contents of a file; fails the test when it cannot be read.
std::string read_file(const std::string &path);
bool path_exists(const std::string &path);
// Removes a tree, restoring permissions on the way so that nothing is left.
void remove_tree(const std::string &path);

struct process_result {
    int status;          // exit status 0..255, or 128 + signal number
    std::string output;  // standard output and standard error, in order
};

// Runs a program with the arguments in the directory cwd (the current one
// when empty), with a time limit in seconds, and collects what it prints.
process_result run_process(const std::vector<std::string> &argv, const std::string &cwd = "",
                           int timeout_seconds = 600);

struct chmFile;
struct chmUnitInfo;
// An object's bytes through chmlib, in as many calls as it takes; fewer than
// its length when reading fails.
std::string chmlib_retrieve(chmFile *reader, chmUnitInfo &unit);

// Runs the built kelto binary with these arguments.
process_result run_kelto(const std::vector<std::string> &args, const std::string &cwd = "");

// Collects what the process writes to standard output (printf and write(1)
// alike) from construction until finish(), which puts standard output back
// and returns the text. The destructor puts it back if finish() was not
// reached, so that an assertion returning early does not swallow what later
// tests print.
class stdout_capture {
  public:
    stdout_capture();
    ~stdout_capture();
    stdout_capture(const stdout_capture &) = delete;
    stdout_capture &operator=(const stdout_capture &) = delete;
    std::string finish();

  private:
    void restore();
    int saved_ = -1;  // the real standard output
    int file_ = -1;   // an unlinked temporary file standing in for it
};
