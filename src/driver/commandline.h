#ifndef MIXFIT_DRIVER_COMMANDLINE_H
#define MIXFIT_DRIVER_COMMANDLINE_H

// The program's command line: its eleven options in the process-wide option
// table, and the combinations of them that are refused.

// Declares the options, with their defaults, bounds and help lines, in the
// order the usage text lists them.
void DeclareOptions();

// True for combinations of options that contradict each other: -s with -f,
// -r or -c, and -I with -t. Reads the parsed table.
bool OptionsConflict();

#endif
