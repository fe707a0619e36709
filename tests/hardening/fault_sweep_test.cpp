// Every call of each kind that kelto makes on a real run fails in turn: the
// run must end complete and readable, or with status 255, a message and no
// .its file; never a crash or a hang.
#include <cstdlib>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "hardening_support.h"

namespace {
// Runs per kind; kinds with more calls are swept with a stride, keeping the
// first and the last few calls, where set-up and finishing happen.
constexpr unsigned long runs_per_kind = 24;
// Allocations happen at every stage and are many: a finer stride.
constexpr unsigned long allocation_runs = 64;
constexpr unsigned long ends_kept = 4;

std::set<unsigned long> calls_to_fail(unsigned long count, unsigned long runs) {
    std::set<unsigned long> chosen;
    // count + 1 is never reached: the run must then succeed. KELTO_FULL_SWEEP
    // set in the environment tries every call, for a long run by hand.
    if (count + 1 <= runs || getenv("KELTO_FULL_SWEEP")) {
        for (unsigned long n = 1; n <= count + 1; n++) chosen.insert(n);
        return chosen;
    }
    unsigned long stride = count / (runs - 2 * ends_kept) + 1;
    for (unsigned long n = 1; n <= ends_kept; n++) chosen.insert(n);
    for (unsigned long n = ends_kept + 1; n < count; n += stride) chosen.insert(n);
    for (unsigned long n = count - ends_kept + 1; n <= count + 1; n++) chosen.insert(n);
    return chosen;
}

class fault_sweep : public ::testing::TestWithParam<const char *> {
  protected:
    static void SetUpTestSuite() {
        if (!fault_shim_usable()) return;
        work = new temp_dir;
        tree = *work / "tree";
        make_sample_tree(tree, 200);
        counts = count_calls(tree);
    }
    static void TearDownTestSuite() {
        delete work;
        work = nullptr;
    }
    static temp_dir *work;
    static std::string tree;
    static std::map<std::string, unsigned long> counts;
};

temp_dir *fault_sweep::work;
std::string fault_sweep::tree;
std::map<std::string, unsigned long> fault_sweep::counts;
}  // namespace

TEST_P(fault_sweep, EveryOutcomeIsCompleteOrCleanlyFailed) {
    if (!fault_shim_usable()) GTEST_SKIP() << "the sanitizer runtime owns malloc; the fault shim cannot be preloaded";
    std::string kind = GetParam();
    ASSERT_TRUE(counts.count(kind)) << "the shim knows no kind " << kind;
    unsigned long count = counts[kind];
    ASSERT_GT(count, 0u) << kind << " is never called on this tree";
    int failed_runs = 0, complete_runs = 0;
    for (unsigned long n : calls_to_fail(count, kind == "alloc" ? allocation_runs : runs_per_kind)) {
        process_result result = run_with_fault(tree, kind, n);
        std::string wrong = judge_outcome(tree, result);
        // Worker threads deliver the last frames inside lzx_finish.
        if (kind.find("_temp") != std::string::npos && kind != "fread_temp" && result.status == 255 &&
            result.output.find("ERROR: Temporary file write error") == std::string::npos)
            wrong += "a full temporary file reported otherwise";
        EXPECT_EQ(wrong, "") << kind << " call " << n << " of " << count << " failed; status " << result.status
                             << "; output tail:\n"
                             << result.output.substr(result.output.size() > 1500 ? result.output.size() - 1500 : 0);
        (result.status == 0 ? complete_runs : failed_runs)++;
    }
    // The run that reaches no failing call is complete.
    EXPECT_GT(complete_runs, 0);
    RecordProperty("runs", failed_runs + complete_runs);
    std::printf("%s: %lu calls, %d runs failed cleanly, %d complete\n", kind.c_str(), count, failed_runs,
                complete_runs);
}

INSTANTIATE_TEST_SUITE_P(calls, fault_sweep,
                         ::testing::Values("fwrite_output", "fflush_output", "fseek_output", "ftell_output",
                                           "fclose_output", "fopen_output", "fwrite_temp", "fflush_temp",
                                           "fread_temp", "tmpfile", "fread_input", "openat_input",
                                           "fdopen_input", "openat_dir", "opendir", "readdir", "fstatat",
                                           "fsync_output", "alloc", "realloc"));
