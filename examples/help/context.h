/* Context IDs of the help topics, shared with the program that opens them. */
#define IDH_PACKING 1001
#define IDH_PROJECTS 1002
