#include "run/run_state.h"

run_state run;
