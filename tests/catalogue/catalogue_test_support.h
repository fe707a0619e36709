// Helpers shared by the catalogue tests.
#pragma once
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "run/run_state.h"
#include "test_support.h"

// The prefix as the run sequence sets it up before the walk.
inline void start_prefix(void) {
    run.name_prefix.buffer = static_cast<char *>(malloc(2));
    run.name_prefix.buffer[0] = '/';
    run.name_prefix.buffer[1] = '\0';
    run.name_prefix.length = 1;
    run.name_prefix.capacity = 0;
}

inline std::vector<std::string> table_names(void) {
    std::vector<std::string> names;
    for (uint64_t i = 0; i < run.entry_table.count; i++) names.push_back(run.entry_table.entries[i]->name);
    return names;
}

inline const its_entry *find_entry(const std::string &name) {
    for (uint64_t i = 0; i < run.entry_table.count; i++)
        if (name == run.entry_table.entries[i]->name) return run.entry_table.entries[i];
    return nullptr;
}

class catalogue : public ::testing::Test {
  protected:
    void SetUp() override { reset_run_for_test(); }
    void TearDown() override { reset_run_for_test(); }
};

// Runs check, which returns what went wrong (empty when nothing did), as an
// unprivileged user: permission bits do not stop root, which runs CI. As
// root the check runs in a child that has dropped to nobody.
template <typename check_fn>
void expect_as_unprivileged_user(check_fn check) {
    if (geteuid() != 0) {
        EXPECT_EQ(check(), "");
        return;
    }
    fflush(stdout);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        alarm(20);
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(77);
        std::string problems = check();
        fprintf(stderr, "%s", problems.c_str());
        fflush(stderr);
        _exit(problems.empty() ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "running as root and cannot drop to nobody";
    EXPECT_EQ(WEXITSTATUS(status), 0);
}
