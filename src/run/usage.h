// The usage text of the command line.
#pragma once

// Prints the usage text, the version and the warranty line on standard output.
void print_usage(void);
