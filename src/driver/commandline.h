#ifndef MIXFIT_DRIVER_COMMANDLINE_H
#define MIXFIT_DRIVER_COMMANDLINE_H

#include <cstdio>

// The program's command line: its eleven options in the process-wide option
// table, and the combinations of them that are refused.

// Declares the options, with their defaults, bounds and help lines, in the
// order the usage text lists them.
void DeclareOptions();

// True for combinations of options that contradict each other: -s with -f,
// -r or -c, and -I with -t. Reads the parsed table.
bool OptionsConflict();

// The parser's bounds tests let a NaN through, but a NaN variance floor would
// hold no variance up and a NaN threshold would stop EM at once. True, after
// the parser's message for a bad double value on errors, when -v or -t holds
// a NaN.
bool NotANumberGiven(FILE* errors);

#endif
