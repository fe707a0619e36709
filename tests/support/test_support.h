// Helpers shared by the tool's tests.
#pragma once
#include <string>

// Puts settings, built-in entries and run state back to their start values,
// releasing whatever an earlier test left.
void reset_run_for_test(void);
