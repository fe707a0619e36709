// Removing an unfinished output when a signal ends the run.
#pragma once

// Catches the signals that end a run from outside (those not ignored at
// start) so that an unfinished output is removed before the process ends as
// the signal would end it. Keeps a copy of path for the handler.
void catch_interruptions(const char *path);

// Holds back the caught signals, for the moments when the output is being
// opened or its removal is being settled; release_interruptions lets
// them through again.
void hold_interruptions(void);
void release_interruptions(void);

// From now on the output is unfinished and a signal removes it.
void arm_output_removal(void);
// The output is complete or already dealt with: a signal removes nothing.
void disarm_output_removal(void);
