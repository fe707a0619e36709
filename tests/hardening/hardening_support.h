// Running kelto under injected faults and signals, and judging the outcome.
#pragma once
#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

#include "test_support.h"

// The fault shim is of no use where the sanitizer runtime owns malloc and
// refuses to be preloaded after.
bool fault_shim_usable(void);

// The new file that a run on dir writes beside dir.its until it is complete,
// if one is there; else "".
std::string unfinished_output(const std::string &dir);

// A tree of a few hundred files in a few directories, small and mixed, with
// two larger files that span several frames. Returns the file count.
int make_sample_tree(const std::string &root, int files);

// A started kelto whose output is read through a pipe.
struct kelto_child {
    pid_t pid = -1;
    int output_fd = -1;
};

// Starts kelto on dir with these extra environment entries ("NAME=value"),
// signals at their default actions so that the caller can rely on them.
kelto_child start_kelto(const std::string &dir, const std::vector<std::string> &env = {});
// Reads output until text appears (true) or the output ends (false);
// what was read is appended to seen.
bool wait_for_output(const kelto_child &child, const std::string &text, std::string &seen);
// Reads the rest of the output and reaps the child; a run longer than the
// time limit is killed and reported as status -1.
process_result finish_kelto(const kelto_child &child, std::string seen, int timeout_seconds = 60);

// One run with the fault shim: kind and nth as the shim takes them.
process_result run_with_fault(const std::string &dir, const std::string &kind, unsigned long nth,
                              const std::string &action = "fail");
// How many calls of each kind a clean run on dir makes.
std::map<std::string, unsigned long> count_calls(const std::string &dir);

// Judges a finished run on dir, whose output is dir + ".its":
// - status 0, or 1 when an entry was reported missing and the last line
//   counts them: every file on disk that the output does not report as left
//   out reads back from the container, through libmspack, byte for byte; a
//   file reported unreadable is there with no content;
// - otherwise status 255, an "ERROR: " line and no .its file;
// - never an unfinished output left beside it.
// Returns "" when the outcome is sound, else what is wrong.
std::string judge_outcome(const std::string &dir, const process_result &result);

// Judges a run that a signal may have ended: status 0 with a container that
// reads back as judge_outcome checks it, or ended by that signal with no
// .its file. Returns "" when sound, else what is wrong.
std::string judge_signalled(const std::string &dir, const process_result &result, int signal_number);
